// A container's RSA exchange key, made new or taken as it is, answered as
// its PUBLICKEYBLOB in base64: in a CSP, or, for provider type 0, a KSP's
// persisted key of that name.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "Encoding.h"

// CryptGenKey's flag word: the length in whole multiples of 1024 bits in the
// upper 16 bits (0 lets the provider choose), CRYPT_EXPORTABLE below. None
// when the length does not fit those 16 bits.
std::optional<DWORD> keyGenerationFlags(int keyBits, bool exportable);

// Fails with the message of the first check that `blob` does not pass.
void checkPublicKeyBlob(const Bytes& blob);

// A container that this request made, deleted again (CRYPT_DELETEKEYSET, or
// NCryptDeleteKey for a KSP's key) unless the request keeps it: a failing request leaves the provider as it
// found it.
class NewContainer {
public:
    NewContainer() = default;
    NewContainer(const NewContainer&) = delete;
    NewContainer& operator=(const NewContainer&) = delete;
    ~NewContainer();

    void made(const std::string& provider, const std::string& container, DWORD providerType);
    void keep() { made_ = false; }

private:
    bool made_ = false;
    std::string provider_;
    std::string container_;
    DWORD providerType_ = 0;
};

// The blob of the container's exchange key; a container made for a new key
// is recorded in `made`.
std::string exchangeKeyBlob(const std::string& providerName, int keyBits, const std::string& containerName,
    bool useExistingKey, bool exportable, int providerType, NewContainer& made);
