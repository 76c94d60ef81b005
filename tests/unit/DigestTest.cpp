#include <gtest/gtest.h>

#include <string>

#include "Digest.h"

namespace {

std::string hexOf(const std::string& data, bool (*digest)(const unsigned char*, DWORD, Bytes&))
{
    Bytes out;
    EXPECT_TRUE(digest(reinterpret_cast<const unsigned char*>(data.data()), static_cast<DWORD>(data.size()), out));
    return hexEncode(out);
}

TEST(Digest, KnownAnswers)
{
    EXPECT_EQ(hexOf("abc", digestSha1), "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(hexOf("abc", digestSha256), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(hexOf("abc", digestSha512),
              "ddaf35a193617abacc417349ae20413112e6fa4e89a97ea20a9eeee64b55d39a"
              "2192992a274fc1a836ba3c23a3feebbd454d4423643ce80e2a9ac94fa54ca49f");
    EXPECT_EQ(hexOf("", digestSha256), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

TEST(Digest, UnknownAlgorithmOrProviderTypeFails)
{
    Bytes out{1, 2, 3};
    EXPECT_FALSE(computeDigest(PROV_RSA_AES, 0x1234, nullptr, 0, out));
    EXPECT_TRUE(out.empty());
    EXPECT_FALSE(computeDigest(9999, CALG_SHA1, nullptr, 0, out));
}

}  // namespace
