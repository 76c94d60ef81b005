// The token road's pure rules.
#include <gtest/gtest.h>

#include "P11Session.h"
#include "TokenInfo.h"

namespace {

TEST(UsableSerial, OnlyNonEmptyHexadecimalText)
{
    for (const char* serial : { "0012ab", "0A1B2C3D", "a80909497ebc75c6", "F", "0123456789abcdefABCDEF" })
        EXPECT_TRUE(isUsableSerial(serial)) << serial;
    for (const char* serial : { "", " ", "ABC-123", "0A1B ", "g0", "0x12", "12 34", "\xC3\xA9" })
        EXPECT_FALSE(isUsableSerial(serial)) << serial;
}

TEST(Login, RefusalsMapToTheirMessages)
{
    EXPECT_STREQ(loginFailureMessage(CKR_PIN_INCORRECT), "Erro no Login - Pin incorreto");
    EXPECT_STREQ(loginFailureMessage(CKR_PIN_INVALID), "Erro no Login - Pin invalido");
    EXPECT_STREQ(loginFailureMessage(CKR_PIN_LEN_RANGE), "Erro no Login - Tamanho do Pin invalido");
    EXPECT_STREQ(loginFailureMessage(CKR_PIN_EXPIRED), "Erro no Login - Pin expirado");
    EXPECT_STREQ(loginFailureMessage(CKR_PIN_LOCKED), "Erro no Login - Pin bloqueado");
    EXPECT_STREQ(loginFailureMessage(CKR_ARGUMENTS_BAD), "Erro no Login - Argumentos invalidos");
    for (CK_RV other : { CKR_USER_ALREADY_LOGGED_IN, CKR_GENERAL_ERROR, CKR_FUNCTION_NOT_SUPPORTED, CK_ULONG { 0xA5 } })
        EXPECT_STREQ(loginFailureMessage(other), "Erro no Login - Erro Generico") << other;
}

TEST(Login, EmptyAndNdMeanNoPin)
{
    EXPECT_TRUE(isNoPin(""));
    EXPECT_TRUE(isNoPin("ND"));
    for (const char* pin : { "nd", "Nd", "ND ", " ND", "N", "0", "NDND" })
        EXPECT_FALSE(isNoPin(pin)) << pin;
}

TEST(TokenNumbers, PrintedAsTheir32BitValue)
{
    EXPECT_EQ(unsigned32(CK_UNAVAILABLE_INFORMATION), 4294967295u);
    EXPECT_EQ(unsigned32(CK_EFFECTIVELY_INFINITE), 0u);
    EXPECT_EQ(unsigned32(7169), 7169u);
}

}  // namespace
