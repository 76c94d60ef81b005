// The machine that the CryptoAPI tests run sigbrid on: the Linux stand-in's
// directory, or the Wine prefix of the test run. sigbrid's own requests make
// the keys and install the certificates that the suite's key issues for them.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "KeyMaterial.h"
#include "Process.h"
#include "WindowsMachine.h"

inline constexpr const char* kEnhancedAes = "Microsoft Enhanced RSA and AES Cryptographic Provider";
inline constexpr const char* kStrong = "Microsoft Strong Cryptographic Provider";
inline constexpr const char* kEToken = "eToken Base Cryptographic Provider";
inline constexpr const char* kMsSmartCard = "Microsoft Base Smart Card Crypto Provider";
// A card provider whose certificates go to "MY": a known name, "Microsoft"
// and letters outside ASCII.
inline constexpr const char* kAccentedCard = "eToken Base Cryptographic Provider para Microsoft A\xc3\xa7\xc3\xa3o";
// Installed only on the stand-in: a provider whose containers nobody else
// sees, for the counts that must start from nothing.
inline constexpr const char* kEmptyCsp = "SafeSign Standard Cryptographic Service Provider";
// CNG key storage providers, linked with provider type 0; the card's keys
// are never exportable.
inline constexpr const char* kSoftwareKsp = "Microsoft Software Key Storage Provider";
inline constexpr const char* kSmartCardKsp = "Microsoft Smart Card Key Storage Provider";
inline constexpr int kProvRsaFull = 1;
inline constexpr int kProvRsaAes = 24;
inline constexpr int kKspType = 0;

// A certificate in the "MY" store (DER-encoded) and the container of its key.
struct Identity {
    std::string thumbprint;
    std::string certificate;
    std::string container;
};

// True when `signature` (base64) verifies with the certificate's key over
// `data` with SHA algorithm `digestName` ("sha1", ...); with `isDigest`,
// `data` is the digest.
bool verifies(const Identity& identity, const std::string& digestName, const std::string& data,
    const std::string& signature, bool isDigest);

class CapiMachine : public WindowsMachine {
public:
    CapiMachine();

    // A container name that no other test uses.
    std::string newContainerName(const std::string& stem = "capi");

    // A container holding a new 1024-bit exchange key.
    void createContainer(const std::string& provider, int type, const std::string& container);
    // A container without keys, as other programs leave them: the stand-in's
    // loses its key file (a KSP's key is deleted), Wine's is made in the
    // registry.
    void createEmptyContainer(const std::string& provider, int type, const std::string& container);
    // A new certificate for `key` in "MY", linked to the container's exchange
    // key: importCertificate puts there what a provider named "Microsoft" is
    // given, and opens nothing.
    Identity addCertificate(
        const std::string& container, const std::string& provider, int type, EVP_PKEY* key = suiteKey());
    // A new container of `provider` (named "Microsoft") holding a new RSA key
    // of 1024 bits, the fewest a request makes (SHA-512's signatures fit), and
    // its certificate.
    Identity install(const std::string& provider, int type);
    // Puts the certificate (DER) in the stand-in's "MY" store without a key
    // link, as a program that imports a bare certificate leaves it.
    void addUnlinked(const std::string& der) const;
    // How many copies of the certificate (DER-encoded) the stand-in's "MY"
    // store holds; Wine's keeps one per certificate.
    int copiesInStore(const std::string& der) const;
    // A file of the stand-in's container (exchange.key, exchange.cer: the
    // certificate kept with the exchange key; Wine's providers keep none),
    // or with no `file` the file of a KSP's key of that name.
    std::string containerFile(const std::string& container, const std::string& file = "") const;

    // On the 1 MiB stack that Windows gives a program by default.
    ProcessResult sigbrid(const std::vector<std::string>& args, const std::map<std::string, std::string>& extra = {},
        const std::string& input = "") const;
    // The answer of a request that must succeed (a JSON value other than a
    // text as compact JSON), or the error text of one that must fail; empty
    // and a test failure otherwise.
    std::string success(const std::vector<std::string>& args, const std::map<std::string, std::string>& extra = {},
        const std::string& input = "") const
    {
        return member("success", args, extra, input);
    }
    std::string error(const std::vector<std::string>& args, const std::map<std::string, std::string>& extra = {},
        const std::string& input = "") const
    {
        return member("error", args, extra, input);
    }

    static std::string readFile(const std::string& path) { return ::readFile(path); }

private:
    std::string member(const std::string& name, const std::vector<std::string>& args,
        const std::map<std::string, std::string>& extra, const std::string& input) const;
    // What createKeyPair answers: the key's PUBLICKEYBLOB in base64, or its error text.
    std::string keyPair(const std::string& provider, int type, const std::string& container, const char* bits) const;
};
