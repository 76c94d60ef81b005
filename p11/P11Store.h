// The process's one doorway to PKCS#11 tokens: the modules of the request's
// type code, loaded and initialized, and the slots whose tokens are usable.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "P11Module.h"
#include "P11Slot.h"
#include "TokenInfo.h"

// The type code that selects every module of the table.
inline constexpr const char* kAllModules = "ND";

class P11Store {
public:
    // The first call builds the store for `type` (one table code, "ND" for
    // all of them, anything else for none); later calls ignore `type`.
    static P11Store& getInstance(const std::string& type);
    // Drops the store (after `finalize`); the next getInstance builds anew.
    static void discard();
    // The modules of the table that `type` selects, in table order, none
    // loaded yet.
    static std::vector<std::unique_ptr<P11Module>> modulesOf(const std::string& type);

    explicit P11Store(const std::string& type);
    P11Store(const P11Store&) = delete;
    P11Store& operator=(const P11Store&) = delete;

    // C_Finalize and FreeLibrary for every loaded module, in table order;
    // then the slot and module lists are emptied.
    void finalize();

    std::vector<P11Slot>& slots() { return slots_; }
    std::vector<TokenInfo> listTokens() const;
    // The same tokens in the same order, each with what tokenDetails adds.
    nlohmann::json listTokenDetails() const;
    // The first usable slot whose token has exactly this type and serial.
    P11Slot* findToken(const std::string& type, const std::string& serial);

private:
    void collectSlots(P11Module& module);

    // Slots point into the modules: declared after them, released before.
    std::vector<std::unique_ptr<P11Module>> modules_;
    std::vector<P11Slot> slots_;
};
