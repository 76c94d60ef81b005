#include "BinaryStdout.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>

namespace platform {

void setBinaryStdout() { _setmode(_fileno(stdout), _O_BINARY); }

}  // namespace platform
