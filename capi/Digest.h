// One-shot host hashing through CryptoAPI, in a verify-only context of the
// provider type's default provider. The PKCS#11 road hashes with it.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include "Encoding.h"

// Answers false, and leaves `digest` empty, when any CryptoAPI step fails.
bool computeDigest(DWORD providerType, ALG_ID algorithm, const unsigned char* data, DWORD length, Bytes& digest);

bool digestSha1(const unsigned char* data, DWORD length, Bytes& digest);
bool digestSha256(const unsigned char* data, DWORD length, Bytes& digest);
bool digestSha512(const unsigned char* data, DWORD length, Bytes& digest);
