// Checks of the bytes that a caller hands over as an issued certificate,
// before they are stored anywhere.
#pragma once

#include "Encoding.h"

// One DER SEQUENCE with a definite length and nothing after it.
bool isOneDerSequence(const Bytes& der);

// Exactly one X.509 certificate in DER that crypt32 decodes.
bool isOneCertificate(const Bytes& der);
