// An emulated Windows machine whose vendor modules are SoftHSM2, with its
// tokens in a temporary directory; and the tools that fill those tokens.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "Process.h"
#include "WindowsMachine.h"

inline constexpr const char* kSoftHsmModule = "/usr/lib/softhsm/libsofthsm2.so";

// What softhsm2-util --show-slots says about one initialized token: "id",
// and its "slot ..." and "token ..." lines ("token Serial number", ...).
using ShownToken = std::map<std::string, std::string>;

class SoftHsmMachine : public WindowsMachine {
public:
    SoftHsmMachine();

    // SoftHSM2 as the "GD" module.
    void installSoftHsmAsGd() { link(R"(C:\Windows\System32\aetpkss1.dll)", kSoftHsmModule); }

    // Initializes a token in the first free slot; answers its serial.
    std::string initToken(const std::string& label, const std::string& pin) const;
    // Initialized tokens in the order SoftHSM2 reports its slots.
    std::vector<ShownToken> shownTokens() const;

    // pkcs11-tool on the token with that label, logged in with `pin`.
    void keyPair(
        const std::string& token, const std::string& pin, const std::string& idHex, const std::string& label) const;
    void writeCertificate(const std::string& token, const std::string& pin, const std::string& derPath,
        const std::string& idHex, const std::string& label) const;
    // A self-signed certificate as a DER file in the machine's directory.
    std::string makeCertificate(const std::string& name) const;
    // The SHA-1 of a DER certificate file in lower-case hex: its thumbprint.
    static std::string fingerprint(const std::string& derPath);

    ProcessResult tool(const std::vector<std::string>& argv) const;
};

// True when the real components these tests drive are installed.
bool softHsmAvailable();
