#include "oemid/oemidcipher.h"

#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/des.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

using namespace oemid;

namespace
{

std::string hex(const std::string &bytes)
{
    static const char d[] = "0123456789abcdef";
    std::string out;
    for (unsigned char c : bytes) {
        out += d[c >> 4];
        out += d[c & 15];
    }
    return out;
}

std::string hexUpper(const std::string &bytes)
{
    std::string out;
    char buf[3];
    for (unsigned char c : bytes) {
        std::snprintf(buf, sizeof buf, "%02X", c);
        out += buf;
    }
    return out;
}

std::string bin(const char *s, std::size_t n)
{
    return std::string(s, n);
}

// Vectors computed by an independent bit-array implementation of the variant (kept out of tree),
// whose tables were first checked against standard DES.
struct DesVector {
    std::string plain;
    std::string key;
    const char *cipherHex;
};

class DesKnownAnswer : public ::testing::TestWithParam<DesVector>
{
};

TEST_P(DesKnownAnswer, EnciphersAndDeciphers)
{
    const DesVector &v = GetParam();
    const std::string c = desEncrypt(v.plain, v.key);
    EXPECT_EQ(hex(c), v.cipherHex);
    std::string p = desDecrypt(c, v.key);
    ASSERT_EQ(p.size(), filledLength(v.plain.size()));
    EXPECT_EQ(p.substr(0, v.plain.size()), v.plain);
    EXPECT_EQ(p.find_first_not_of('\0', v.plain.size()), std::string::npos) << "filler must be zero";
}

INSTANTIATE_TEST_SUITE_P(
    Vectors, DesKnownAnswer,
    ::testing::Values(
        DesVector{"{\"MAC\":\"00:11:22:33:44:55\",\"OEMID\":\"ACME\"}\n", bin("ab1\0c2\0\0", 8),
                  "61e12e204199565fddf344ca7a601d889daaa81bbebaab1a1e2f516a9e10b1eb1f2d6691bcd2020e"
                  "925c93e10d61de4d"},
        DesVector{"", "12345678", ""},
        DesVector{std::string(8, '\0'), std::string(8, '\0'), "acec93d9a7c03c98"},
        // 32 bytes: four blocks, no filler block; ECB repeats equal blocks.
        DesVector{"12345678abcdefgh12345678abcdefgh", bin("KEYKEY\0\0", 8),
                  "1fb015c42196003de5ac1f024b90c6ea1fb015c42196003de5ac1f024b90c6ea"},
        // 16-byte and 10-byte keys: two-key triple DES, the second key zero-filled.
        DesVector{"tallow", "0123456789abcdef", "6bce9a7bfc7dd001"},
        DesVector{"tallow", "0123456789", "bae28efa34904ab6"}));

TEST(Des, DiffersFromStandardDes)
{
    const unsigned char key[8] = {'s', 'e', 'c', 'r', 'e', 't', 0, 0};
    const unsigned char block[8] = {'O', 'E', 'M', 'I', 'D', '0', '0', '1'};
    DES_key_schedule ks;
    DES_cblock k;
    std::memcpy(k, key, 8);
    DES_set_key_unchecked(&k, &ks);
    DES_cblock in, out;
    std::memcpy(in, block, 8);
    DES_ecb_encrypt(&in, &out, &ks, DES_ENCRYPT);
    const std::string standard(reinterpret_cast<const char *>(out), 8);
    const std::string ours = desEncrypt(std::string(reinterpret_cast<const char *>(block), 8),
                                        std::string(reinterpret_cast<const char *>(key), 8));
    ASSERT_EQ(ours.size(), 8u);
    EXPECT_NE(hex(ours), hex(standard));
}

TEST(Des, RoundTripAllLengths)
{
    const std::string key = "k3y-0001";
    std::string plain;
    for (int n = 0; n <= 40; ++n) {
        const std::string c = desEncrypt(plain, key);
        EXPECT_EQ(c.size(), filledLength(plain.size()));
        EXPECT_EQ(desDecrypt(c, key).substr(0, plain.size()), plain);
        plain += static_cast<char>('A' + n % 26);
    }
    EXPECT_EQ(desDecrypt("1234567", key), "") << "a partial block is refused";
}

TEST(Base64, KnownTextsAndRejects)
{
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},        {"f", "Zg=="},          {"fo", "Zm8="},
        {"foo", "Zm9v"}, {"foobar", "Zm9vYmFy"}, {bin("\xff\xfe\x00", 3), "//4A"}};
    for (const auto &c : cases) {
        EXPECT_EQ(base64Encode(c.first), c.second);
        std::string back;
        ASSERT_TRUE(base64Decode(c.second, &back)) << c.second;
        EXPECT_EQ(back, c.first);
    }
    std::string out;
    for (const char *bad : {"Zg=", "Zg=a", "Z===", "Zm9v!A==", "Zg==Zg=="})
        EXPECT_FALSE(base64Decode(bad, &out)) << bad;
}

TEST(Key, SixFixedPositionsThenTwoZeros)
{
    EXPECT_EQ(keyFromSerial("9a8b7c6d5e4f3a2b"), bin("b2d9fc\0\0", 8));
    // Positions past the end of a short serial are zero bytes.
    EXPECT_EQ(keyFromSerial("ab12"), bin("2\0\0a\0\0\0\0", 8));
    EXPECT_EQ(keyFromSerial(""), std::string(8, '\0'));
    // Only the first 16 characters matter.
    EXPECT_EQ(keyFromSerial("9a8b7c6d5e4f3a2bXYZ"), keyFromSerial("9a8b7c6d5e4f3a2b"));
}

TEST(Data, EncryptDecryptWithSerialKey)
{
    const std::string plain = "{\"MAC\":\"\",\"OEMID\":\"123\"}\n";
    EXPECT_EQ(encryptData(plain, "9a8b7c6d5e4f3a2b"), "wGdvFwhuM4fXYxWGOhfR2OPzGhZuUQ9zIytZvzZi5A0=");
    EXPECT_EQ(encryptData(plain, "ab12"), "CxCnor6jJqZqH/urygVNOqR9Z7YzoUHMKm5iNNxojIE=");
    std::string back, error;
    ASSERT_TRUE(decryptData(encryptData(plain, "ab12"), "ab12", &back, &error)) << error;
    EXPECT_EQ(back, plain);
    // A wrong serial deciphers to something else; malformed data is refused with a reason.
    ASSERT_TRUE(decryptData(encryptData(plain, "ab12"), "ab13", &back));
    EXPECT_NE(back, plain);
    EXPECT_FALSE(decryptData("not base64!", "ab12", &back, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(decryptData(base64Encode("1234567"), "ab12", &back, &error));
}

TEST(CheckCode, KnownAnswers)
{
    EXPECT_EQ(hash8("abc"), "LkM7s2Ht");
    EXPECT_EQ(checkTimeNumber(23, 59, 59), 930941);
    EXPECT_EQ(checkTimeNumber(0, 0, 0), 0);
    // The check code is the hex form of hash8 over serial + pc MAC + OEMID + time number.
    EXPECT_EQ(makeCheckCode("a", "b", "c", 0, 0, 0), hexUpper(hash8("abc0")));
    EXPECT_EQ(makeCheckCode("S", "M", "O", 23, 59, 59), hexUpper(hash8("SMO930941")));
    const std::string code = makeCheckCode("SN0001", "001122334455", "123", 23, 59, 59);
    ASSERT_EQ(code.size(), 16u);
    for (std::size_t i = 0; i < 16; i += 2)
        EXPECT_NE(std::string("34567").find(code[i]), std::string::npos) << code;
}

TEST(CheckCode, HexFormOfAbc)
{
    EXPECT_EQ(hexUpper(hash8("abc")), "4C6B4D3773324874");
}

} // namespace
