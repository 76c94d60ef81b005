// RSA key pairs made inside a token under a key identifier that sigbrid makes
// up, and their public keys read back.
#pragma once

#include <cstddef>
#include <string>

#include "P11Session.h"
#include "P11Slot.h"

// Logs in, checks that the token has room for the pair and a certificate,
// and generates; answers the base64 of the key identifier text.
std::string createKeyPair(P11Slot& slot, const std::string& label, const std::string& pin, CK_ULONG modulusBits);
std::string generateKeyPair(const P11Session& session, const std::string& label, CK_ULONG modulusBits);

// The first min(count, 62) characters of a uniformly random permutation of
// the digits and the Latin letters.
std::string randomIdentifier(std::size_t count);

// The modulus (base64) of the public key with this identifier; the empty
// text when there is none.
std::string getPublicKey(P11Slot& slot, const std::string& keyIdText);
