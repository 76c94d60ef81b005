#include "P11Store.h"

#include "TokenDetails.h"

#include <exception>
#include <utility>

namespace {

struct ModuleEntry {
    const char* type;
    const char* secondPath; // native location, tried first
    const char* firstPath; // 32-bit location
};

constexpr ModuleEntry kModuleTable[] = {
    { "GD", R"(C:\Windows\System32\aetpkss1.dll)", R"(C:\Windows\SysWOW64\aetpkss1.dll)" },
    { "ET", R"(C:\Windows\System32\eTPKCS11.dll)", R"(C:\Windows\SysWOW64\eTPKCS11.dll)" },
    { "AT", R"(C:\Windows\System32\asepkcs.dll)", R"(C:\Windows\SysWOW64\asepkcs.dll)" },
    { "TR", R"(C:\Program Files\CSP Trevanol Multiplo\PKCS11.dll)",
        R"(C:\Program Files (x86)\CSP Trevanol Multiplo\PKCS11.dll)" },
    { "OB", R"(C:\Program Files\Oberthur Technologies\AWP\DLLs\OcsCryptolib_P11.dll)",
        R"(C:\Program Files (x86)\Oberthur Technologies\AWP\DLLs\OcsCryptolib_P11.dll)" },
    { "EP", R"(C:\Windows\System32\eps2003csp11.dll)", R"(C:\Windows\SysWOW64\eps2003csp11.dll)" },
    { "DX", R"(C:\Windows\System32\DXSafePKCS11.dll)", R"(C:\Windows\SysWOW64\DXSafePKCS11.dll)" },
};

std::unique_ptr<P11Store>& instance()
{
    static std::unique_ptr<P11Store> store;
    return store;
}

} // namespace

P11Store& P11Store::getInstance(const std::string& type)
{
    std::unique_ptr<P11Store>& store = instance();
    if (!store)
        store = std::make_unique<P11Store>(type);
    return *store;
}

void P11Store::discard() { instance().reset(); }

std::vector<std::unique_ptr<P11Module>> P11Store::modulesOf(const std::string& type)
{
    std::vector<std::unique_ptr<P11Module>> modules;
    for (const ModuleEntry& entry : kModuleTable)
        if (type == kAllModules || type == entry.type)
            modules.push_back(std::make_unique<P11Module>(entry.type, entry.firstPath, entry.secondPath));
    return modules;
}

P11Store::P11Store(const std::string& type)
    : modules_(modulesOf(type))
{
    P11Module::resetCallBudget();
    try {
        for (const auto& module : modules_)
            collectSlots(*module);
    } catch (const CallBudgetExceeded&) {
        // The request ends here; its modules end with it.
        finalize();
        throw;
    }
}

void P11Store::collectSlots(P11Module& module)
{
    // A module that cannot be used, or a slot that cannot be read, is left
    // out silently: the request then simply finds fewer tokens.
    try {
        module.loadModule();
        if (!module.loaded())
            return;
        for (CK_SLOT_ID slotId : module.getSlotList()) {
            try {
                TokenInfo info = TokenInfo::read(module, slotId);
                if (isUsableSerial(info.serial))
                    slots_.emplace_back(module, slotId, std::move(info));
            } catch (const CallBudgetExceeded&) {
                throw;
            } catch (const std::exception&) {
            }
        }
    } catch (const CallBudgetExceeded&) {
        throw;
    } catch (const std::exception&) {
    }
}

void P11Store::finalize()
{
    for (const auto& module : modules_)
        module->unloadModule();
    slots_.clear();
    modules_.clear();
}

std::vector<TokenInfo> P11Store::listTokens() const
{
    std::vector<TokenInfo> tokens;
    for (const P11Slot& slot : slots_)
        tokens.push_back(slot.foundInfo());
    return tokens;
}

nlohmann::json P11Store::listTokenDetails() const
{
    nlohmann::json tokens = nlohmann::json::array();
    for (const P11Slot& slot : slots_)
        tokens.push_back(tokenDetails(slot));
    return tokens;
}

P11Slot* P11Store::findToken(const std::string& type, const std::string& serial)
{
    for (P11Slot& slot : slots_) {
        const TokenInfo info = slot.tokenInfo();
        if (info.type == type && info.serial == serial)
            return &slot;
    }
    return nullptr;
}
