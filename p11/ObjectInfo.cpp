#include "ObjectInfo.h"

#include "ObjectSearch.h"

namespace {

ObjectInfo describeKey(const P11Session& session, CK_OBJECT_HANDLE privateKey)
{
    ObjectInfo info;
    info.id = readAttributeBase64(session, privateKey, CKA_ID);
    // The key itself is found again by its ID, with everything else that has it.
    for (CK_OBJECT_HANDLE object : findById(session, info.id)) {
        switch (readClass(session, object)) {
        case CKO_CERTIFICATE:
            info.certificate = true;
            break;
        case CKO_PUBLIC_KEY:
            info.publicKey = true;
            break;
        case CKO_PRIVATE_KEY:
            info.privateKey = true;
            break;
        default:
            continue;
        }
        info.label = readAttributeText(session, object, CKA_LABEL);
    }
    return info;
}

}  // namespace

void to_json(nlohmann::json& json, const ObjectInfo& info)
{
    json = nlohmann::json {
        { "id", info.id },
        { "label", info.label },
        { "publicKey", info.publicKey },
        { "privateKey", info.privateKey },
        { "certificate", info.certificate },
    };
}

std::vector<ObjectInfo> listObjects(P11Slot& slot, const std::string& pin)
{
    const P11Session& session = slot.openSession(pin, true);
    // A failure from here on skips the close: C_Finalize ends the session.
    std::vector<ObjectInfo> objects;
    for (CK_OBJECT_HANDLE privateKey : findByClass(session, CKO_PRIVATE_KEY))
        objects.push_back(describeKey(session, privateKey));
    slot.closeSession();
    return objects;
}
