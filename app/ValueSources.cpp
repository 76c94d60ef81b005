#include "ValueSources.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <stdexcept>

#include "Messages.h"
#include "StandardStreams.h"

namespace {

constexpr std::size_t kReadChunk = 64 * 1024;
constexpr const char* kStandardInputName = "-";
// UTF-8's, which .NET's Encoding.UTF8 writes first.
constexpr const char* kByteOrderMark = "\xEF\xBB\xBF";
// A PIN line: a mixed-up caller's document is refused before any login.
constexpr std::size_t kLineLimit = 256;

[[noreturn]] void unreadable(const std::string& path) { throw std::runtime_error(kValueUnreadable + path); }

// Hands `piece` what `read` gives (a count, 0 at the end, -1 on failure)
// until the end; false when a read fails.
template <typename Read> bool readToEnd(const ValuePiece& piece, Read read)
{
    std::string buffer(kReadChunk, '\0');
    for (;;) {
        const long count = read(buffer.data(), buffer.size());
        if (count <= 0)
            return count == 0;
        piece(buffer.data(), static_cast<std::size_t>(count));
    }
}

} // namespace

void readValueFile(const std::string& path, const ValuePiece& piece)
{
    const std::unique_ptr<std::FILE, decltype(&std::fclose)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    // A directory opens on Linux and fails at its first read.
    if (!file || !readToEnd(piece, [&file](char* buffer, std::size_t size) {
            const std::size_t count = std::fread(buffer, 1, size, file.get());
            return count > 0 ? static_cast<long>(count) : std::ferror(file.get()) ? -1L : 0L;
        }))
        unreadable(path);
}

void readStandardInput(const ValuePiece& piece)
{
    if (!readToEnd(piece, platform::readStandardInput))
        unreadable(kStandardInputName);
}

std::string heldValue(const std::function<void(const ValuePiece&)>& read)
{
    std::string value;
    read([&value](const char* data, std::size_t size) {
        if (size > kHeldValueCeiling - value.size())
            throw std::runtime_error(kValueTooLarge);
        // Grown as usual, but never past the ceiling.
        if (value.size() + size > value.capacity())
            value.reserve(std::min(kHeldValueCeiling, std::max(2 * value.capacity(), value.size() + size)));
        value.append(data, size);
    });
    return value;
}

SecretText readStandardInputLine()
{
    // A byte at a time: nothing past the line is taken from the caller, and
    // nothing past the limit is read at all.
    SecretText line("");
    char byte = 0;
    long count = 0;
    while ((count = platform::readStandardInput(&byte, 1)) == 1 && byte != '\n' && byte != '\r') {
        line.append(byte);
        // A writer's byte-order mark before the line is not part of it.
        if (line.text() == kByteOrderMark)
            line.clear();
        if (line.size() > kLineLimit) {
            wipe(&byte, 1);
            throw std::runtime_error(kLineTooLong);
        }
    }
    wipe(&byte, 1);
    if (count < 0)
        unreadable(kStandardInputName);
    return line;
}
