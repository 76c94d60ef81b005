// The response envelope: a JSON object with exactly one member, "success" or
// "error", printed with 4-space indentation and nothing after it.
#pragma once

#include <nlohmann/json.hpp>

#include <string>

using Json = nlohmann::json;

Json successEnvelope(Json value);
Json errorEnvelope(Json message);

// Text that is not UTF-8 (a label or provider name in another code page) is
// printed with U+FFFD in place of the bytes that do not decode.
std::string serializeEnvelope(const Json& envelope);

// Writes the envelope to standard output, byte for byte, without a newline.
void printEnvelope(const Json& envelope);
