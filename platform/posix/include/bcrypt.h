// Linux stand-in for the part of <bcrypt.h> that sigbrid's CNG calls use: the
// PKCS#1 padding of a signature and the names of algorithms and key blobs.
// Values agree with mingw-w64.
#pragma once

#include <windows.h>

typedef struct _BCRYPT_PKCS1_PADDING_INFO {
    LPCWSTR pszAlgId;
} BCRYPT_PKCS1_PADDING_INFO;

#define BCRYPT_PAD_PKCS1 0x00000002

#define BCRYPT_RSA_ALGORITHM L"RSA"
#define BCRYPT_SHA1_ALGORITHM L"SHA1"
#define BCRYPT_SHA256_ALGORITHM L"SHA256"
#define BCRYPT_SHA384_ALGORITHM L"SHA384"
#define BCRYPT_SHA512_ALGORITHM L"SHA512"

#define BCRYPT_RSAPUBLIC_BLOB L"RSAPUBLICBLOB"
// The PUBLICKEYBLOB of CryptoAPI.
#define LEGACY_RSAPUBLIC_BLOB L"CAPIPUBLICBLOB"

typedef struct _BCryptBufferDesc BCryptBufferDesc;
