#pragma once

namespace platform {

// Standard output carries the response byte for byte: no "\n" to "\r\n"
// translation on Windows.
void setBinaryStdout();

}  // namespace platform
