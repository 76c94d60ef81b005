// The hashes crypt32 keeps as certificate properties, over the DER bytes.
#pragma once

#include "crypt32/Bytes.h"

namespace standin {

Bytes sha1Thumbprint(const Bytes& encoded);
Bytes md5Thumbprint(const Bytes& encoded);

} // namespace standin
