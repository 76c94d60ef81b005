// The text encodings on any input: nothing is read or written out of bounds,
// and what is encoded decodes to the same bytes.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "Encoding.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    const Bytes bytes(data, data + size);

    if (base64Decode(base64Encode(bytes)) != bytes || hexDecode(hexEncode(bytes)) != bytes)
        std::abort();
    // Any text decodes to at most three bytes per four characters.
    if (base64Decode(text).size() > size / 4 * 3 || hexDecode(text).size() != size / 2)
        std::abort();
    // Read in pieces, cut where the input's own bytes say, base64 is judged
    // and decoded as the whole text is.
    Base64Stream stream;
    Bytes streamed;
    bool accepted = true;
    for (std::size_t at = 0, cut = 0; at < size; ++cut) {
        const std::size_t piece = std::min<std::size_t>(size - at, 1 + data[cut % size] % 97);
        accepted = stream.add(text.data() + at, piece, streamed);
        at += piece;
    }
    const bool whole = isBase64(text);
    if ((accepted && stream.complete()) != whole || (whole && streamed != base64Decode(text)))
        std::abort();
    if (reverseBytes(reverseBytes(data, size).data(), size) != bytes)
        std::abort();
    // A fixed field is read to its width, whatever width the caller names.
    for (std::size_t width = 1; width <= size + 1 && width <= 65; width += 16)
        if (fixedFieldText(data, width).size() >= width)
            std::abort();
    const std::string trimmed = trim(text);
    if (!trimmed.empty()
        && (std::isspace(static_cast<unsigned char>(trimmed.front()))
            || std::isspace(static_cast<unsigned char>(trimmed.back()))))
        std::abort();
    return 0;
}
