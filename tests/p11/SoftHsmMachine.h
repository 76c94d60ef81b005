// The CryptoAPI tests' emulated Windows machine, whose vendor modules are
// SoftHSM2, with its tokens in the machine's directory.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "CapiMachine.h"

inline constexpr const char* kSoftHsmModule = "/usr/lib/softhsm/libsofthsm2.so";

// What softhsm2-util --show-slots says about one initialized token: "id",
// and its "slot ..." and "token ..." lines ("token Serial number", ...).
using ShownToken = std::map<std::string, std::string>;

class SoftHsmMachine : public CapiMachine {
public:
    SoftHsmMachine();

    // Initializes a token in the first free slot; answers its serial.
    std::string initToken(const std::string& label, const std::string& pin) const;
    // Initialized tokens in the order SoftHSM2 reports its slots.
    std::vector<ShownToken> shownTokens() const;

    ProcessResult tool(const std::vector<std::string>& argv) const;
};

// True when the real components these tests drive are installed.
bool softHsmAvailable();
