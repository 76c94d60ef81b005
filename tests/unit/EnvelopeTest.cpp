#include <gtest/gtest.h>

#include "Envelope.h"

namespace {

TEST(Envelope, PrettyPrintsWithFourSpacesAndNoTrailingNewline)
{
    EXPECT_EQ(serializeEnvelope(successEnvelope("1.2.8")), "{\n    \"success\": \"1.2.8\"\n}");
    EXPECT_EQ(serializeEnvelope(errorEnvelope(nullptr)), "{\n    \"error\": null\n}");
    EXPECT_EQ(serializeEnvelope(successEnvelope(Json::array())), "{\n    \"success\": []\n}");
    EXPECT_EQ(serializeEnvelope(successEnvelope(Json::array({Json{{"b", 1u}, {"a", "x"}}}))),
              "{\n    \"success\": [\n        {\n            \"a\": \"x\",\n            \"b\": 1\n        }\n    ]\n}");
}

TEST(Envelope, WritesNonAsciiAsUtf8AndEscapesJsonInsideStrings)
{
    EXPECT_EQ(serializeEnvelope(errorEnvelope("A chave n\xC3\xA3o existe")),
              "{\n    \"error\": \"A chave n\xC3\xA3o existe\"\n}");
    EXPECT_EQ(serializeEnvelope(successEnvelope("{\"result\":\"ok\"}")),
              "{\n    \"success\": \"{\\\"result\\\":\\\"ok\\\"}\"\n}");
}

TEST(Envelope, TextThatIsNotUtf8StillGivesAValidDocument)
{
    const std::string text = serializeEnvelope(successEnvelope("Token \xE9t\xFF"));
    EXPECT_EQ(text, "{\n    \"success\": \"Token \xEF\xBF\xBDt\xEF\xBF\xBD\"\n}");
    EXPECT_TRUE(Json::parse(text).is_object());
}

}  // namespace
