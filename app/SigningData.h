// The data parameter of a signing request, as its operation takes it.
#pragma once

#include <cstddef>
#include <string>

#include "ArgVector.h"

struct SigningData {
    // Base64 of the bytes to sign.
    std::string text;
    // The value was hashed as it was read: `text` is its digest, which the
    // request signs as a ready digest.
    bool digested = false;
};

// Data written "@PATH" or "@-", where the request's ready-digest flag is there
// and false, is read in pieces, checked as base64 and hashed with the
// request's algorithm as it comes, in constant memory whatever its size: a
// value that is not base64 raises kDataNotBase64 at the first piece that
// shows it, and a hash that fails raises `digestFailure`. Any other value is
// read as base64Text reads it, for the operation to check and hash.
SigningData signingData(const ArgVector& args, std::size_t dataPosition, std::size_t flagPosition,
    const std::string& algorithmName, const char* digestFailure);
