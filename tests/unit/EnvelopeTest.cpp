#include <gtest/gtest.h>

#include <utility>

#include "Envelope.h"

namespace {

// Pretty-printed with four spaces and no trailing newline; members sorted;
// non-ASCII written as UTF-8, text that is not UTF-8 replaced so that the
// document stays valid, and JSON inside strings escaped.
TEST(Envelope, PrintsTheExactBytesCallersRead)
{
    const std::pair<Json, std::string> rows[] = {
        { errorEnvelope(nullptr), "{\n    \"error\": null\n}" },
        { successEnvelope(Json::array()), "{\n    \"success\": []\n}" },
        { successEnvelope(Json::array({ Json { { "b", 1u }, { "a", "x" } } })),
            "{\n    \"success\": [\n        {\n            \"a\": \"x\",\n            \"b\": 1\n        }\n    ]\n}" },
        { errorEnvelope("A chave n\xC3\xA3o existe"), "{\n    \"error\": \"A chave n\xC3\xA3o existe\"\n}" },
        { successEnvelope("{\"result\":\"ok\"}"), "{\n    \"success\": \"{\\\"result\\\":\\\"ok\\\"}\"\n}" },
        { successEnvelope("C:\\ \"~\""), "{\n    \"success\": \"C:\\\\ \\\"~\\\"\"\n}" },
        { errorEnvelope("a\\b\n\x01~\x7F"), "{\n    \"error\": \"a\\\\b\\n\\u0001~\x7F\"\n}" },
        { successEnvelope("Token \xE9t\xFF"), "{\n    \"success\": \"Token \xEF\xBF\xBDt\xEF\xBF\xBD\"\n}" },
    };
    for (const auto& [envelope, text] : rows)
        EXPECT_EQ(serializeEnvelope(envelope), text);
}

} // namespace
