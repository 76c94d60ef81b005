// The file the mock module was loaded from, so that copies of one build under
// different names can be told apart and scripted one by one.
#pragma once

#include <string>

namespace p11mock {

// The path as the loader knows it.
std::string ownFilePath();

// The last component of a path with either kind of separator.
inline std::string baseName(const std::string& path)
{
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace p11mock
