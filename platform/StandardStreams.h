// The standard streams as the program uses them: the response goes out and
// values come in byte for byte.
#pragma once

#include <cstddef>

namespace platform {

// Standard output carries the response byte for byte: no "\n" to "\r\n"
// translation on Windows.
void setBinaryStdout();

// Up to `size` bytes of standard input, read straight into `buffer`: no line
// end translation, and no buffer of the C runtime keeps a copy (a PIN comes
// this way). Answers how many were read, 0 at the end of the input, or -1
// when it cannot be read.
long readStandardInput(void* buffer, std::size_t size);

} // namespace platform
