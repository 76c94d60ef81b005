// The SHA-1 thumbprint that certificates are found by, over the DER bytes.
#pragma once

#include "crypt32/Bytes.h"

namespace standin {

Bytes sha1Thumbprint(const Bytes& encoded);

} // namespace standin
