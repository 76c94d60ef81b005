#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "Encoding.h"

namespace {

Bytes bytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

TEST(Base64, EncodesFullGroupsAndPadding)
{
    EXPECT_EQ(base64Encode(bytesOf("abc")), "YWJj");
    EXPECT_EQ(base64Encode(bytesOf("ab")), "YWI=");
    EXPECT_EQ(base64Encode(bytesOf("a")), "YQ==");
    EXPECT_EQ(base64Encode(Bytes{}), "");
    const Bytes high{0xFF, 0xFE, 0xFD, 0x00, 0x3E, 0x3F};
    EXPECT_EQ(base64Encode(high), "//79AD4/");
}

TEST(Base64, DecodesAcrossLineBreaksAndPadding)
{
    EXPECT_EQ(base64Decode("YW\r\nJj"), bytesOf("abc"));
    EXPECT_EQ(base64Decode("YQ=="), bytesOf("a"));
    EXPECT_EQ(base64Decode("YWI="), bytesOf("ab"));
    EXPECT_EQ(textUpToZero(base64Decode("YQ==")), "a");
}

TEST(Base64, RoundTripsEveryByteValueAtEveryLength)
{
    Bytes data;
    for (int i = 0; i < 256; ++i) {
        EXPECT_EQ(base64Decode(base64Encode(data)), data) << "length " << i;
        data.push_back(static_cast<unsigned char>(255 - i));
    }
}

TEST(Base64, EmptyAndIncompleteTextsNeverReadPastTheEnd)
{
    EXPECT_TRUE(base64Decode("").empty());
    EXPECT_TRUE(base64Decode("\r\n").empty());
    EXPECT_TRUE(base64Decode("Y").empty());
    EXPECT_TRUE(base64Decode("YWJ").empty());
    // Only the complete groups count; padding is judged on the last of them.
    EXPECT_EQ(base64Decode("YWJjY"), bytesOf("abc"));
    EXPECT_EQ(base64Decode("YQ==YW"), bytesOf("a"));
    EXPECT_EQ(base64Decode("YWJj="), bytesOf("abc"));
}

TEST(Base64, CharactersOutsideTheAlphabetAreNotRejected)
{
    // A blank is kept and has no index: its byte is skipped and the next one
    // moves up, with the blank counted as zero bits.
    const Bytes decoded = base64Decode("YW J");
    ASSERT_EQ(decoded.size(), 3u);
    EXPECT_EQ(decoded[0], 'a');
    EXPECT_EQ(decoded[1], 9);
    EXPECT_EQ(decoded[2], 0);
    EXPECT_EQ(base64Decode("!!!!").size(), 3u);
}

TEST(Base64, StrictCheckAcceptsOnlyWellFormedText)
{
    for (const char* text : { "", "\r\n", "YWJj", "YW\r\nJj", "YWI=", "YQ==", "+/+/YQ==" })
        EXPECT_TRUE(isBase64(text)) << text;
    for (const char* text : { "====", "YQ=", "Y", "yes", "-1", "YWJj!", "YW J", "YQ==YQ==", "Y===", "YWJ\t", "YQ-_", "!QQ=" })
        EXPECT_FALSE(isBase64(text)) << text;
}

TEST(Hex, EncodesLowerCaseAndDecodesOnlyLowerCase)
{
    const Bytes bytes{0x0A, 0xFF};
    EXPECT_EQ(hexEncode(bytes), "0aff");
    EXPECT_EQ(hexDecode("0aff"), bytes);
    EXPECT_EQ(hexDecode("0AFF"), (Bytes{0x0F, 0xFF}));
    EXPECT_EQ(hexDecode("0af"), Bytes{0x0A});
    EXPECT_TRUE(hexDecode("").empty());
    EXPECT_TRUE(hexDecode("f").empty());
    EXPECT_EQ(hexEncode(Bytes{0x00, 0x0F, 0xA0}), "000fa0");
}

TEST(Reverse, ReversesByteOrder)
{
    const Bytes bytes{1, 2, 3};
    EXPECT_EQ(reverseBytes(bytes.data(), bytes.size()), (Bytes{3, 2, 1}));
    EXPECT_TRUE(reverseBytes(bytes.data(), 0).empty());
}

TEST(FixedField, TrimsBlankPaddingAndStopsAtZero)
{
    unsigned char label[32];
    std::memset(label, ' ', sizeof label);
    std::memcpy(label, "My Token", 8);
    EXPECT_EQ(fixedFieldText(label, 33), "My Token");

    std::memset(label, ' ', sizeof label);
    EXPECT_EQ(fixedFieldText(label, 33), "");

    unsigned char serial[16];
    std::memset(serial, ' ', sizeof serial);
    std::memcpy(serial + 2, "0A1B2C3D", 8);
    EXPECT_EQ(fixedFieldText(serial, 17), "0A1B2C3D");

    // A full field has no terminator: exactly its width is read.
    unsigned char model[17];
    std::memset(model, 'M', sizeof model);
    model[16] = 'X';
    EXPECT_EQ(fixedFieldText(model, 17), std::string(16, 'M'));

    unsigned char embedded[16];
    std::memset(embedded, ' ', sizeof embedded);
    std::memcpy(embedded, "ab\0cd", 5);
    EXPECT_EQ(fixedFieldText(embedded, 17), "ab");
}

TEST(Trim, RemovesClassicWhiteSpaceAtBothEndsOnly)
{
    EXPECT_EQ(trim(" \t\n\v\f\rin side \t\n\v\f\r"), "in side");
    EXPECT_EQ(trim(""), "");
    EXPECT_EQ(trim(" \t "), "");
    // A non-breaking space in UTF-8 is not classic white space.
    EXPECT_EQ(trim("\xC2\xA0x"), "\xC2\xA0x");
}

}  // namespace
