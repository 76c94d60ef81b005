// The byte strings crypt32 hands around: encodings, hashes, property values.
#pragma once

#include <vector>

namespace standin {

using Bytes = std::vector<unsigned char>;

} // namespace standin
