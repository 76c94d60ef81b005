// The structures crypt32 encodes, as OpenSSL objects and their DER. Throws
// CryptFailure with crypt32's codes (ERROR_FILE_NOT_FOUND for a structure it
// has no encoder for).
#pragma once

#include "crypt32/Asn1.h"

namespace standin {

Bytes encodeStructure(LPCSTR structType, const void* structInfo);

// The to-be-signed part of a request, ready for its signature.
X509Request requestToBeSigned(const CERT_REQUEST_INFO& info);

} // namespace standin
