// The failure text of a token operation that the module refused: the
// operation's own words, then the reason in words or the code in decimal.
#pragma once

#include <string>

#include "Pkcs11.h"

std::string tokenFailure(const char* prefix, CK_RV rv);
