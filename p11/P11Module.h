// One vendor module of the module table: where it may be installed, its
// library while loaded, and the one way in which sigbrid calls into it.
#pragma once

#include <windows.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include "Pkcs11.h"
#include "Pkcs11Messages.h"

// A C_ function of the module interface: its exported name and its signature,
// kept together so that a call site cannot pair a name with the wrong type.
template <typename Signature> struct P11Function {
    const char* name;
    // Counted against the request's call budget; finalizing never is, so
    // that a request which ran out can still end its modules.
    bool counted = true;
};

namespace p11 {
inline constexpr P11Function<CK_C_Initialize> C_Initialize { "C_Initialize" };
inline constexpr P11Function<CK_C_Finalize> C_Finalize { "C_Finalize", false };
inline constexpr P11Function<CK_C_GetInfo> C_GetInfo { "C_GetInfo" };
inline constexpr P11Function<CK_C_GetSlotList> C_GetSlotList { "C_GetSlotList" };
inline constexpr P11Function<CK_C_GetSlotInfo> C_GetSlotInfo { "C_GetSlotInfo" };
inline constexpr P11Function<CK_C_GetTokenInfo> C_GetTokenInfo { "C_GetTokenInfo" };
inline constexpr P11Function<CK_C_GetMechanismList> C_GetMechanismList { "C_GetMechanismList" };
inline constexpr P11Function<CK_C_GetMechanismInfo> C_GetMechanismInfo { "C_GetMechanismInfo" };
inline constexpr P11Function<CK_C_OpenSession> C_OpenSession { "C_OpenSession" };
inline constexpr P11Function<CK_C_CloseSession> C_CloseSession { "C_CloseSession" };
inline constexpr P11Function<CK_C_Login> C_Login { "C_Login" };
inline constexpr P11Function<CK_C_Logout> C_Logout { "C_Logout" };
inline constexpr P11Function<CK_C_FindObjectsInit> C_FindObjectsInit { "C_FindObjectsInit" };
inline constexpr P11Function<CK_C_FindObjects> C_FindObjects { "C_FindObjects" };
inline constexpr P11Function<CK_C_FindObjectsFinal> C_FindObjectsFinal { "C_FindObjectsFinal" };
inline constexpr P11Function<CK_C_GetAttributeValue> C_GetAttributeValue { "C_GetAttributeValue" };
inline constexpr P11Function<CK_C_SignInit> C_SignInit { "C_SignInit" };
inline constexpr P11Function<CK_C_Sign> C_Sign { "C_Sign" };
inline constexpr P11Function<CK_C_GenerateKeyPair> C_GenerateKeyPair { "C_GenerateKeyPair" };
inline constexpr P11Function<CK_C_CreateObject> C_CreateObject { "C_CreateObject" };
// The functions that sigbrid's requests call, in the module interface's order.
inline constexpr const char* kInterface[] = { C_Initialize.name, C_Finalize.name, C_GetSlotList.name,
    C_GetSlotInfo.name, C_GetTokenInfo.name, C_OpenSession.name, C_CloseSession.name, C_Login.name, C_Logout.name,
    C_FindObjectsInit.name, C_FindObjects.name, C_FindObjectsFinal.name, C_GetAttributeValue.name, C_SignInit.name,
    C_Sign.name, C_GenerateKeyPair.name, C_CreateObject.name };
} // namespace p11

// A module that lies without end (one more object, forever) cannot keep a
// request going: the request's module calls are bounded, with room for
// tokens that hold many thousands of objects.
inline constexpr unsigned long kModuleCallBudget = 1000000;

// The failure of a request that used up its call budget; it ends the whole
// request, whichever module or slot it arose in.
struct CallBudgetExceeded : std::runtime_error {
    CallBudgetExceeded()
        : std::runtime_error(kCallBudgetExceeded)
    {
    }
};

// What a call does when the module does not export the function.
enum class IfMissing {
    // Raise "Funcao PKCS#11 ausente no modulo: <name>".
    Fail,
    // Call nothing and answer CKR_FUNCTION_NOT_SUPPORTED, as a module that
    // refused the call would: for calls whose failure the caller already
    // handles, or whose result nobody examines.
    Answer,
};

class P11Module {
public:
    P11Module(std::string type, std::string firstPath, std::string secondPath);
    P11Module(const P11Module&) = delete;
    P11Module& operator=(const P11Module&) = delete;

    const std::string& type() const { return type_; }
    bool loaded() const { return library_ != nullptr; }
    // The file that loading uses: the native path when something is there,
    // else the 32-bit one when something is there; none otherwise.
    const std::string* installedPath() const;
    // The native path, where the module is looked for first.
    const std::string& nativePath() const { return secondPath_; }
    // The 32-bit path, when the library was loaded from it after the native
    // path's file was refused; none otherwise.
    const std::string* fallbackPath() const { return loadedFromFirstPath_ ? &firstPath_ : nullptr; }
    // Whether the loaded library exports the function.
    bool exports(const char* name) const { return lookUp(name) != nullptr; }

    // Finds the library (native path first, and the 32-bit one when the
    // native one is there but refused), loads it and initializes it.
    // Raises the two load messages; a module that refuses C_Initialize is
    // unloaded at once and stays unloaded, without an error.
    void loadModule()
    {
        openLibrary();
        initialize();
    }
    // The two steps of loading: the library, found and loaded (raising the
    // two load messages); then C_Initialize, after whose refusal the module
    // is unloaded again. Answers what C_Initialize answered.
    void openLibrary();
    CK_RV initialize();
    // C_Finalize and FreeLibrary, when loaded.
    void unloadModule();
    // The slots that hold a token; empty when the module refuses the query.
    std::vector<CK_SLOT_ID> getSlotList() const;

    // A new request starts with its whole call budget.
    static void resetCallBudget();

    // Looks the function up by name right now (nothing is cached), refuses a
    // missing one as `ifMissing` says, and calls it. Which return codes
    // matter is the caller's business.
    template <typename Signature, typename... Args>
    CK_RV call(P11Function<Signature> function, IfMissing ifMissing, Args... args) const
    {
        if (function.counted)
            chargeCall();
        // Through void(*)(): the one function pointer type that converts to
        // any other without a warning.
        const auto entry = reinterpret_cast<Signature>(reinterpret_cast<void (*)()>(lookUp(function.name)));
        if (!entry) {
            if (ifMissing == IfMissing::Answer)
                return CKR_FUNCTION_NOT_SUPPORTED;
            throw std::runtime_error(std::string(kMissingFunction) + function.name);
        }
        return entry(args...);
    }

private:
    FARPROC lookUp(const char* name) const;
    // Raises CallBudgetExceeded once the request's budget is spent.
    static void chargeCall();

    struct FreeLibraryOnRelease {
        void operator()(HMODULE library) const { FreeLibrary(library); }
    };
    using Library = std::unique_ptr<std::remove_pointer_t<HMODULE>, FreeLibraryOnRelease>;

    std::string type_;
    std::string firstPath_;
    std::string secondPath_;
    bool loadedFromFirstPath_ = false;
    // Released without C_Finalize only when the request ended before the
    // store was finalized; the process is about to end then.
    Library library_;
};
