#include "Envelope.h"

#include <algorithm>
#include <iostream>

#include "BinaryStdout.h"

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

}  // namespace

std::string serializeEnvelope(const Json& envelope)
{
    // A signed list answers a text of hundreds of kilobytes: printable ASCII
    // is written as the dependency writes it, quotes and backslashes escaped,
    // without its byte-by-byte UTF-8 check.
    const auto member = envelope.begin();
    if (envelope.size() != 1 || !member->is_string() || !isPlainText(member->get_ref<const std::string&>()))
        return envelope.dump(4, ' ', false, Json::error_handler_t::replace);
    const std::string& value = member->get_ref<const std::string&>();
    std::string text = "{\n    \"" + member.key() + "\": \"";
    text.reserve(text.size() + value.size() + value.size() / 8 + 4);
    for (char c : value) {
        if (c == '"' || c == '\\')
            text += '\\';
        text += c;
    }
    text += "\"\n}";
    return text;
}

void printEnvelope(const Json& envelope)
{
    const std::string text = serializeEnvelope(envelope);
    platform::setBinaryStdout();
    std::cout.clear();
    std::cout.flush();
    std::cout.write(text.data(), static_cast<std::streamsize>(text.size()));
    std::cout.flush();
}
