#include "Envelope.h"

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

std::string serializeEnvelope(const Json& envelope)
{
    return envelope.dump(4, ' ', false, Json::error_handler_t::replace);
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
