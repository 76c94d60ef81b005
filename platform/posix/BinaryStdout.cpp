#include "BinaryStdout.h"

namespace platform {

void setBinaryStdout() {}

}  // namespace platform
