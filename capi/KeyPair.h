// A container's RSA exchange key, made new or taken as it is, answered as
// its PUBLICKEYBLOB in base64.
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

std::string exchangeKeyBlob(const std::string& providerName, int keyBits, const std::string& containerName,
    bool useExistingKey, bool exportable, int providerType);
