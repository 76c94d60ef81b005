// CRYPT_KEY_PROV_INFO as a property value: a pointer-free form for storage
// (32-bit little-endian words, characters as code points), and the layout
// crypt32 returns: the record followed by everything it points to, inside
// the caller's one buffer.
#pragma once

#include <wincrypt.h>
#include <windows.h>

#include "crypt32/Bytes.h"

namespace standin {

Bytes flattenKeyProvInfo(const CRYPT_KEY_PROV_INFO& info);

// The size of the caller's buffer that `flat` needs; CRYPT_E_NOT_FOUND when
// `flat` is damaged.
DWORD keyProvInfoSize(const Bytes& flat);

// Lays `flat` out in `buffer`, which holds keyProvInfoSize(flat) bytes.
void unflattenKeyProvInfo(const Bytes& flat, void* buffer);

} // namespace standin
