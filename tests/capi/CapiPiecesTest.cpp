// What no request shows: the two failure styles on failures that carry no
// message, the checks of a public key blob that only a faulty provider would
// export, the exportable bit of the key-generation flags, and the UTF-16 text
// that only Windows gives.
#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>
#include <string>

#include "AnsiText.h"
#include "CertificateBytes.h"
#include "Failures.h"
#include "KeyPair.h"

namespace {

TEST(FailureStyles, FailuresWithoutAMessageAreUnexpected)
{
    EXPECT_EQ(
        errorTextStyle([]() -> std::string { throw std::runtime_error(""); }), "{\"error\":\"Unexpected error\"}");
    EXPECT_EQ(errorTextStyle([]() -> std::string { throw 42; }), "{\"error\":\"Unexpected error\"}");
    try {
        raisedStyle([]() -> std::string { throw 42; });
        FAIL() << "no failure raised";
    } catch (const std::runtime_error& failure) {
        EXPECT_STREQ(failure.what(), "Unexpected error");
    }
}

TEST(KeyPair, FlagWordHoldsWholeKilobitsAndExportability)
{
    struct Case {
        int keyBits;
        bool exportable;
        std::optional<DWORD> flags;
    };
    // What requests reach (whole kilobits, less than one, more than 16 bits)
    // is in the black-box tests.
    for (const Case& c : { Case { 2048, true, 0x08000001 }, Case { 1000, true, 0x00000001 },
             Case { 64512, false, 0xFC000000 }, Case { -1024, true, std::nullopt } })
        EXPECT_EQ(keyGenerationFlags(c.keyBits, c.exportable), c.flags) << c.keyBits;
}

TEST(KeyPair, PublicKeyBlobMustBeAnRsaPublicKeyBlob)
{
    // BLOBHEADER, then RSAPUBKEY's magic, bit length and exponent.
    auto blob = [](char type, const std::string& magic) {
        const std::string text = type + std::string("\x02\x00\x00\x00\xa4\x00\x00", 7) + magic
            + std::string("\x00\x08\x00\x00\x01\x00\x01\x00", 8);
        return Bytes(text.begin(), text.end());
    };
    const std::string invalidBlob = "createKeyPair - Invalid public key blob";
    const std::string invalidType = "createKeyPair - Invalid public key type";
    for (const auto& [bytes, message] :
        std::vector<std::pair<Bytes, std::string>> { { blob(0x06, "RSA1"), "" }, { blob(0x07, "RSA2"), invalidBlob },
            { {}, invalidBlob }, { blob(0x06, "RSA2"), invalidType }, { Bytes(8, 0x06), invalidType } }) {
        try {
            checkPublicKeyBlob(bytes);
            EXPECT_EQ(message, "");
        } catch (const std::runtime_error& refused) {
            EXPECT_EQ(refused.what(), message);
        }
    }
}

TEST(CertificateBytes, OneDerSequenceWithADefiniteLengthAndNothingAfterIt)
{
    // Short and long lengths (up to four length bytes); cut, trailing,
    // indefinite, five length bytes, another tag, nothing.
    const std::pair<std::string, bool> rows[] = { { std::string("\x30\x00", 2), true },
        { std::string("\x30\x81\x01\x05", 4), true }, { std::string("\x30\x84\x00\x00\x00\x01\x05", 7), true },
        { std::string("\x30\x02\x05", 3), false }, { std::string("\x30\x00\x00", 3), false },
        { std::string("\x30\x80", 2), false }, { std::string("\x30\x85\x00\x00\x00\x00\x01\x05", 8), false },
        { std::string("\x31\x00", 2), false }, { "\x30", false }, { "", false } };
    for (const auto& [der, one] : rows)
        EXPECT_EQ(isOneDerSequence(Bytes(der.begin(), der.end())), one) << hexEncode(Bytes(der.begin(), der.end()));
}

TEST(AnsiText, TextUnitsOfEitherWidthBecomeUtf8)
{
    const std::string bad = "\xef\xbf\xbd"; // U+FFFD
    // The ends of each UTF-8 length; pairs joined at their ranges' ends (the
    // last units too); a lone low, a high before another unit, a high at the
    // end.
    for (const auto& [utf16, utf8] : std::vector<std::pair<std::u16string, std::string>> {
             { u"\x7f\x80\x7ff\x800\xffff\xd800\xdc00\xdbff\xdfff",
                 "\x7f\xc2\x80\xdf\xbf\xe0\xa0\x80\xef\xbf\xbf\xf0\x90\x80\x80\xf4\x8f\xbf\xbf" },
             { u"\xdc00\xd800x\xd800", bad + bad + "x" + bad } })
        EXPECT_EQ(utf8FromUnits(utf16.data(), utf16.size()), utf8);
    // Four-byte units are never paired; past U+10FFFF is no character.
    const std::u32string utf32 = U"\x10ffff\x110000\xd7ff\xd800\xdfff\xe000";
    EXPECT_EQ(utf8FromUnits(utf32.data(), utf32.size()),
        "\xf4\x8f\xbf\xbf" + bad + "\xed\x9f\xbf" + bad + bad + "\xee\x80\x80");
    // The ANSI code page (UTF-8 here) holds no surrogate: '?', and the text
    // goes on.
    const std::vector<WCHAR> wide = { L'a', static_cast<WCHAR>(0xd800), L'\xe7', 0 };
    EXPECT_EQ(ansiFromWide(wide.data()), "a?\xc3\xa7");
}

} // namespace
