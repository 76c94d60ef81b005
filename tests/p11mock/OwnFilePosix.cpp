#include "OwnFile.h"

#include <dlfcn.h>

namespace p11mock {

std::string ownFilePath()
{
    Dl_info info {};
    static const int marker = 0;
    if (!dladdr(&marker, &info) || !info.dli_fname)
        return {};
    return info.dli_fname;
}

} // namespace p11mock
