#include "ObjectSearch.h"

namespace {

// A module may report any length: values beyond this are not believed.
constexpr CK_ULONG kAttributeLengthLimit = 64UL * 1024 * 1024;
// A module that never ends a search is cut off after this many objects.
constexpr std::size_t kSearchLimit = 65536;

}  // namespace

ObjectHandles findObjects(const P11Session& session, std::vector<CK_ATTRIBUTE> searchTemplate)
{
    const P11Module& module = session.module();
    module.call(p11::C_FindObjectsInit, IfMissing::Fail, session.handle(), searchTemplate.data(),
        static_cast<CK_ULONG>(searchTemplate.size()));
    ObjectHandles found;
    while (found.size() < kSearchLimit) {
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
    Bytes id = base64Decode(idText);
    return findObjects(session, { { CKA_ID, id.data(), static_cast<CK_ULONG>(id.size()) } });
}

CK_OBJECT_HANDLE findKeyById(const P11Session& session, CK_OBJECT_CLASS objectClass, const Bytes& id)
{
    Bytes value = id;
    const ObjectHandles found = findObjects(session,
        { { CKA_CLASS, &objectClass, sizeof objectClass },
            { CKA_ID, value.data(), static_cast<CK_ULONG>(value.size()) } });
    return found.empty() ? 0 : found.front();
}

Bytes readAttribute(const P11Session& session, CK_OBJECT_HANDLE object, CK_ATTRIBUTE_TYPE type)
{
    const P11Module& module = session.module();
    CK_ATTRIBUTE attribute { type, NULL_PTR, 0 };
    module.call(p11::C_GetAttributeValue, IfMissing::Fail, session.handle(), object, &attribute, CK_ULONG { 1 });
    const CK_ULONG length = attribute.ulValueLen;
    // CK_UNAVAILABLE_INFORMATION is beyond the limit too.
    if (length > kAttributeLengthLimit)
        return {};

    // One spare zero byte, so that the second call always gets a buffer.
    Bytes value(length + 1, 0);
    attribute.pValue = value.data();
    attribute.ulValueLen = length;
    module.call(p11::C_GetAttributeValue, IfMissing::Fail, session.handle(), object, &attribute, CK_ULONG { 1 });
    if (attribute.ulValueLen == CK_UNAVAILABLE_INFORMATION)
        return {};
    value.resize(std::min(attribute.ulValueLen, length));
    return value;
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
