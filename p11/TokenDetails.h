// What a caller needs to know of a token before it asks its user for a PIN or
// makes a key: the token's flags by name, its PIN lengths and versions, the
// RSA key sizes it makes and the signing mechanisms it offers. Read without
// a session, so no PIN is asked for.
#pragma once

#include <nlohmann/json.hpp>

#include "P11Slot.h"

// The slot's token record (as `pkcs11 list tokens` lists it) with those
// members added: one C_GetTokenInfo, C_GetMechanismInfo for key-pair
// generation and C_GetMechanismList. What the module refuses to tell is left
// out.
nlohmann::json tokenDetails(const P11Slot& slot);
