// The JSON list of a signList request, parsed with a bound on its nesting.
#pragma once

#include <string>

#include "Envelope.h"

// Copying and writing a JSON value recurse once per level, and an item's "id"
// is copied into the answer and written back. On a 1 MiB stack both survive
// several thousand levels (about 600 in the sanitizer build); a list of
// items with a scalar "id" has two.
inline constexpr int kSigningListNestingLimit = 100;

// A signList request's list parameter: base64 of the JSON text, read up to
// its first zero byte and parsed; a value nested deeper than the limit,
// anywhere in it, is refused as soon as the parser meets it, before it is
// built.
Json decodeSigningList(std::string encoded);
