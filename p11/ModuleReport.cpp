#include "ModuleReport.h"

#include "Encoding.h"
#include "P11Store.h"

namespace {

using Json = nlohmann::json;

// What the loaded module says of itself and of its slots; what it refuses
// to tell is left out.
void describeLoaded(const P11Module& module, Json& record)
{
    CK_INFO info {};
    if (module.call(p11::C_GetInfo, IfMissing::Answer, &info) == CKR_OK) {
        record["cryptokiVersion"] = versionText(info.cryptokiVersion);
        record["manufacturerId"] = fixedFieldText(info.manufacturerID);
        record["libraryDescription"] = fixedFieldText(info.libraryDescription);
        record["libraryVersion"] = versionText(info.libraryVersion);
    }
    for (const auto& [key, tokenPresent] : { std::pair { "slots", CK_FALSE }, { "slotsWithToken", CK_TRUE } }) {
        CK_ULONG count = 0;
        if (module.call(p11::C_GetSlotList, IfMissing::Answer, CK_BBOOL(tokenPresent), NULL_PTR, &count) == CKR_OK)
            record[key] = unsigned32(count);
    }
}

Json report(P11Module& module)
{
    const std::string* path = module.installedPath();
    Json record = { { "type", module.type() }, { "path", path ? *path : module.nativePath() },
        { "exists", path != nullptr }, { "loaded", false } };
    try {
        module.openLibrary();
    } catch (const std::runtime_error& failure) {
        record["error"] = failure.what();
        return record;
    }
    // Where the native path's file was refused, what loaded is the other.
    if (const std::string* fallback = module.fallbackPath()) {
        record["path"] = *fallback;
        record["refused"] = { { "path", module.nativePath() }, { "error", kLoadLibraryFailed } };
    }
    Json missing = Json::array();
    for (const char* name : p11::kInterface)
        if (!module.exports(name))
            missing.push_back(name);
    if (!missing.empty())
        record["missingFunctions"] = missing;
    const CK_RV initialized = module.initialize();
    if (initialized != CKR_OK) {
        record["error"] = kInitializeFailed + std::to_string(unsigned32(initialized));
        return record;
    }
    record["loaded"] = true;
    describeLoaded(module, record);
    module.unloadModule();
    return record;
}

} // namespace

Json moduleReports()
{
    P11Module::resetCallBudget();
    Json reports = Json::array();
    for (const auto& module : P11Store::modulesOf(kAllModules))
        reports.push_back(report(*module));
    return reports;
}
