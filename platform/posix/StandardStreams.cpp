#include "StandardStreams.h"

#include <unistd.h>

#include <cerrno>

namespace platform {

void setBinaryStdout() { }

long readStandardInput(void* buffer, std::size_t size)
{
    for (;;) {
        const ssize_t count = read(STDIN_FILENO, buffer, size);
        if (count >= 0 || errno != EINTR)
            return static_cast<long>(count);
    }
}

} // namespace platform
