#include "ObjectSearch.h"

#include "AttributeTemplate.h"

namespace {

// A module may report any length: values beyond this are not believed.
constexpr CK_ULONG kAttributeLengthLimit = 64UL * 1024 * 1024;

} // namespace

ObjectHandles findObjects(const P11Session& session, std::vector<CK_ATTRIBUTE> searchTemplate)
{
    const P11Module& module = session.module();
    module.call(p11::C_FindObjectsInit, IfMissing::Fail, session.handle(), searchTemplate.data(),
        static_cast<CK_ULONG>(searchTemplate.size()));
    ObjectHandles found;
    // A module that never ends the search runs out of the request's call budget.
    for (;;) {
        // Room for one object per call; a larger count than that is not believed.
        CK_OBJECT_HANDLE object = 0;
        CK_ULONG count = 0;
        const CK_RV rv
            = module.call(p11::C_FindObjects, IfMissing::Fail, session.handle(), &object, CK_ULONG { 1 }, &count);
        // A refused call found nothing, whatever count it wrote: searching on
        // would only collect the same unwritten handle again.
        if (rv != CKR_OK || count == 0)
            break;
        found.push_back(object);
    }
    module.call(p11::C_FindObjectsFinal, IfMissing::Answer, session.handle());
    return found;
}

ObjectHandles findByClass(const P11Session& session, CK_OBJECT_CLASS objectClass)
{
    return findObjects(session, { { CKA_CLASS, &objectClass, sizeof objectClass } });
}

ObjectHandles findById(const P11Session& session, const std::string& idText)
{
    AttributeTemplate search;
    search.bytes(CKA_ID, base64Decode(idText));
    return findObjects(session, search.attributes());
}

CK_OBJECT_HANDLE findKeyById(const P11Session& session, CK_OBJECT_CLASS objectClass, const Bytes& id)
{
    AttributeTemplate search;
    search.number(CKA_CLASS, objectClass).bytes(CKA_ID, id);
    const ObjectHandles found = findObjects(session, search.attributes());
    return found.empty() ? 0 : found.front();
}

AttributeValue readAttributeValue(const P11Session& session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type)
{
    const P11Module& module = session.module();
    AttributeValue read;
    CK_ATTRIBUTE attribute { type, NULL_PTR, 0 };
    read.rv
        = module.call(p11::C_GetAttributeValue, IfMissing::Fail, session.handle(), object, &attribute, CK_ULONG { 1 });
    const CK_ULONG length = attribute.ulValueLen;
    // CK_UNAVAILABLE_INFORMATION is beyond the limit too.
    if (length > kAttributeLengthLimit)
        return read;

    // One spare zero byte, so that the second call always gets a buffer.
    read.bytes.assign(length + 1, 0);
    attribute.pValue = read.bytes.data();
    attribute.ulValueLen = length;
    const CK_RV rv
        = module.call(p11::C_GetAttributeValue, IfMissing::Fail, session.handle(), object, &attribute, CK_ULONG { 1 });
    if (read.rv == CKR_OK)
        read.rv = rv;
    if (attribute.ulValueLen == CK_UNAVAILABLE_INFORMATION) {
        read.bytes.clear();
        return read;
    }
    read.bytes.resize(std::min(attribute.ulValueLen, length));
    return read;
}

Bytes readAttribute(const P11Session& session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type)
{
    return readAttributeValue(session, object, type).bytes;
}

std::string readAttributeText(const P11Session& session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type)
{
    return textUpToZero(readAttribute(session, object, type));
}

std::string readAttributeBase64(const P11Session& session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type)
{
    return base64Encode(readAttribute(session, object, type));
}

Bytes readValue(const P11Session& session, CK_OBJECT_HANDLE object)
{
    return readAttribute(session, object, CKA_VALUE);
}

CK_OBJECT_CLASS readClass(const P11Session& session, CK_OBJECT_HANDLE object)
{
    CK_OBJECT_CLASS objectClass = CK_UNAVAILABLE_INFORMATION;
    CK_ATTRIBUTE attribute { CKA_CLASS, &objectClass, sizeof objectClass };
    session.module().call(
        p11::C_GetAttributeValue, IfMissing::Fail, session.handle(), object, &attribute, CK_ULONG { 1 });
    return objectClass;
}
