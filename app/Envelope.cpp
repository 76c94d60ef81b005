#include "Envelope.h"

#include <algorithm>
#include <cstdio>

#include "StandardStreams.h"

Json successEnvelope(Json value)
{
    Json envelope = Json::object();
    envelope["success"] = std::move(value);
    return envelope;
}

Json errorEnvelope(Json message)
{
    Json envelope = Json::object();
    envelope["error"] = std::move(message);
    return envelope;
}

namespace {

bool isPlainText(const std::string& text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= ' ' && c <= '~'; });
}

// Hands the envelope's text to `write` piece by piece. A signed list answers
// a text of hundreds of kilobytes: printable ASCII is written as the
// dependency writes it, quotes and backslashes escaped, without its
// byte-by-byte UTF-8 check and without a second, escaped copy of the text.
template <typename Write>
void writeEnvelope(const Json& envelope, Write write)
{
    const auto member = envelope.begin();
    if (envelope.size() != 1 || !member->is_string() || !isPlainText(member->get_ref<const std::string&>())) {
        const std::string text = envelope.dump(4, ' ', false, Json::error_handler_t::replace);
        write(text.data(), text.size());
        return;
    }
    const std::string head = "{\n    \"" + member.key() + "\": \"";
    write(head.data(), head.size());
    const std::string& value = member->get_ref<const std::string&>();
    std::size_t start = 0;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '"' || value[i] == '\\') {
            write(value.data() + start, i - start);
            write("\\", 1);
            start = i;
        }
    }
    write(value.data() + start, value.size() - start);
    write("\"\n}", 3);
}

}  // namespace

std::string serializeEnvelope(const Json& envelope)
{
    std::string text;
    writeEnvelope(envelope, [&text](const char* data, std::size_t size) { text.append(data, size); });
    return text;
}

void printEnvelope(const Json& envelope)
{
    platform::setBinaryStdout();
    writeEnvelope(envelope, [](const char* data, std::size_t size) { std::fwrite(data, 1, size, stdout); });
    std::fflush(stdout);
}
