// The structures crypt32 encodes, as DER. Throws CryptFailure with crypt32's
// codes (ERROR_FILE_NOT_FOUND for a structure it has no encoder for).
#pragma once

#include <wincrypt.h>
#include <windows.h>

#include "crypt32/Der.h"

namespace standin {

Bytes encodeStructure(LPCSTR structType, const void* structInfo);

Bytes encodeName(const CERT_NAME_INFO& name);
Bytes encodePublicKeyInfo(const CERT_PUBLIC_KEY_INFO& info);
Bytes encodeCertificateToBeSigned(const CERT_INFO& info);
Bytes encodeRequestToBeSigned(const CERT_REQUEST_INFO& info);

} // namespace standin
