#include "oemidcipher.h"

#include <openssl/evp.h>

#include <array>
#include <cstdint>
#include <cstring>

namespace oemid
{

namespace
{

using Bits = bool;

// Standard DES tables (FIPS 46), 1-based bit positions.
const uint8_t kIP[64] = {58, 50, 42, 34, 26, 18, 10, 2, 60, 52, 44, 36, 28, 20, 12, 4,
                         62, 54, 46, 38, 30, 22, 14, 6, 64, 56, 48, 40, 32, 24, 16, 8,
                         57, 49, 41, 33, 25, 17, 9,  1, 59, 51, 43, 35, 27, 19, 11, 3,
                         61, 53, 45, 37, 29, 21, 13, 5, 63, 55, 47, 39, 31, 23, 15, 7};
const uint8_t kFP[64] = {40, 8, 48, 16, 56, 24, 64, 32, 39, 7, 47, 15, 55, 23, 63, 31,
                         38, 6, 46, 14, 54, 22, 62, 30, 37, 5, 45, 13, 53, 21, 61, 29,
                         36, 4, 44, 12, 52, 20, 60, 28, 35, 3, 43, 11, 51, 19, 59, 27,
                         34, 2, 42, 10, 50, 18, 58, 26, 33, 1, 41, 9,  49, 17, 57, 25};
const uint8_t kE[48] = {32, 1,  2,  3,  4,  5,  4,  5,  6,  7,  8,  9,  8,  9,  10, 11,
                        12, 13, 12, 13, 14, 15, 16, 17, 16, 17, 18, 19, 20, 21, 20, 21,
                        22, 23, 24, 25, 24, 25, 26, 27, 28, 29, 28, 29, 30, 31, 32, 1};
const uint8_t kP[32] = {16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
                        2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25};
const uint8_t kPC1[56] = {57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18, 10, 2,  59, 51, 43,
                          35, 27, 19, 11, 3,  60, 52, 44, 36, 63, 55, 47, 39, 31, 23, 15, 7,  62, 54,
                          46, 38, 30, 22, 14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4};
const uint8_t kPC2[48] = {14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10, 23, 19, 12, 4,
                          26, 8,  16, 7,  27, 20, 13, 2,  41, 52, 31, 37, 47, 55, 30, 40,
                          51, 45, 33, 48, 44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};
const uint8_t kShifts[16] = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};
const uint8_t kSBox[8][4][16] = {{{14, 4, 13, 1, 2, 15, 11, 8, 3, 10, 6, 12, 5, 9, 0, 7},
                                  {0, 15, 7, 4, 14, 2, 13, 1, 10, 6, 12, 11, 9, 5, 3, 8},
                                  {4, 1, 14, 8, 13, 6, 2, 11, 15, 12, 9, 7, 3, 10, 5, 0},
                                  {15, 12, 8, 2, 4, 9, 1, 7, 5, 11, 3, 14, 10, 0, 6, 13}},
                                 {{15, 1, 8, 14, 6, 11, 3, 4, 9, 7, 2, 13, 12, 0, 5, 10},
                                  {3, 13, 4, 7, 15, 2, 8, 14, 12, 0, 1, 10, 6, 9, 11, 5},
                                  {0, 14, 7, 11, 10, 4, 13, 1, 5, 8, 12, 6, 9, 3, 2, 15},
                                  {13, 8, 10, 1, 3, 15, 4, 2, 11, 6, 7, 12, 0, 5, 14, 9}},
                                 {{10, 0, 9, 14, 6, 3, 15, 5, 1, 13, 12, 7, 11, 4, 2, 8},
                                  {13, 7, 0, 9, 3, 4, 6, 10, 2, 8, 5, 14, 12, 11, 15, 1},
                                  {13, 6, 4, 9, 8, 15, 3, 0, 11, 1, 2, 12, 5, 10, 14, 7},
                                  {1, 10, 13, 0, 6, 9, 8, 7, 4, 15, 14, 3, 11, 5, 2, 12}},
                                 {{7, 13, 14, 3, 0, 6, 9, 10, 1, 2, 8, 5, 11, 12, 4, 15},
                                  {13, 8, 11, 5, 6, 15, 0, 3, 4, 7, 2, 12, 1, 10, 14, 9},
                                  {10, 6, 9, 0, 12, 11, 7, 13, 15, 1, 3, 14, 5, 2, 8, 4},
                                  {3, 15, 0, 6, 10, 1, 13, 8, 9, 4, 5, 11, 12, 7, 2, 14}},
                                 {{2, 12, 4, 1, 7, 10, 11, 6, 8, 5, 3, 15, 13, 0, 14, 9},
                                  {14, 11, 2, 12, 4, 7, 13, 1, 5, 0, 15, 10, 3, 9, 8, 6},
                                  {4, 2, 1, 11, 10, 13, 7, 8, 15, 9, 12, 5, 6, 3, 0, 14},
                                  {11, 8, 12, 7, 1, 14, 2, 13, 6, 15, 0, 9, 10, 4, 5, 3}},
                                 {{12, 1, 10, 15, 9, 2, 6, 8, 0, 13, 3, 4, 14, 7, 5, 11},
                                  {10, 15, 4, 2, 7, 12, 9, 5, 6, 1, 13, 14, 0, 11, 3, 8},
                                  {9, 14, 15, 5, 2, 8, 12, 3, 7, 0, 4, 10, 1, 13, 11, 6},
                                  {4, 3, 2, 12, 9, 5, 15, 10, 11, 14, 1, 7, 6, 0, 8, 13}},
                                 {{4, 11, 2, 14, 15, 0, 8, 13, 3, 12, 9, 7, 5, 10, 6, 1},
                                  {13, 0, 11, 7, 4, 9, 1, 10, 14, 3, 5, 12, 2, 15, 8, 6},
                                  {1, 4, 11, 13, 12, 3, 7, 14, 10, 15, 6, 8, 0, 5, 9, 2},
                                  {6, 11, 13, 8, 1, 4, 10, 7, 9, 5, 0, 15, 14, 2, 3, 12}},
                                 {{13, 2, 8, 4, 6, 15, 11, 1, 10, 9, 3, 14, 5, 0, 12, 7},
                                  {1, 15, 13, 8, 10, 3, 7, 4, 12, 5, 6, 11, 0, 14, 9, 2},
                                  {7, 11, 4, 1, 9, 12, 14, 2, 0, 6, 10, 13, 15, 3, 5, 8},
                                  {2, 1, 14, 7, 4, 10, 8, 13, 15, 12, 9, 0, 3, 5, 6, 11}}};

// The devices derive the key from these positions of the serial, in this order.
const int kKeyPositions[6] = {3, 14, 7, 0, 11, 5};

void bytesToBits(Bits *out, const unsigned char *in, int bits)
{
    for (int i = 0; i < bits; ++i)
        out[i] = (in[i >> 3] >> (i & 7)) & 1;
}

void bitsToBytes(unsigned char *out, const Bits *in, int bits)
{
    std::memset(out, 0, static_cast<std::size_t>((bits + 7) / 8));
    for (int i = 0; i < bits; ++i)
        out[i >> 3] |= static_cast<unsigned char>(in[i] << (i & 7));
}

void permute(Bits *out, const Bits *in, const uint8_t *table, int n)
{
    Bits tmp[64];
    for (int i = 0; i < n; ++i)
        tmp[i] = in[table[i] - 1];
    std::memcpy(out, tmp, static_cast<std::size_t>(n) * sizeof(Bits));
}

void rotateLeft(Bits *in, int len, int by)
{
    Bits tmp[28];
    std::memcpy(tmp, in, static_cast<std::size_t>(by) * sizeof(Bits));
    std::memmove(in, in + by, static_cast<std::size_t>(len - by) * sizeof(Bits));
    std::memcpy(in + len - by, tmp, static_cast<std::size_t>(by) * sizeof(Bits));
}

struct KeySchedule {
    Bits sub[16][48];
};

void makeSchedule(KeySchedule *ks, const unsigned char key[8])
{
    Bits k[64];
    bytesToBits(k, key, 64);
    permute(k, k, kPC1, 56);
    for (int i = 0; i < 16; ++i) {
        rotateLeft(k, 28, kShifts[i]);
        rotateLeft(k + 28, 28, kShifts[i]);
        permute(ks->sub[i], k, kPC2, 48);
    }
}

void feistel(Bits r[32], const Bits sub[48])
{
    Bits e[48];
    permute(e, r, kE, 48);
    for (int i = 0; i < 48; ++i)
        e[i] ^= sub[i];
    for (int i = 0; i < 8; ++i) {
        const Bits *s = e + 6 * i;
        const int row = (s[0] << 1) + s[5];
        const int col = (s[1] << 3) + (s[2] << 2) + (s[3] << 1) + s[4];
        const unsigned char v = kSBox[i][row][col];
        bytesToBits(r + 4 * i, &v, 4); // the S-box value enters least significant bit first
    }
    permute(r, r, kP, 32);
}

void desBlock(unsigned char out[8], const unsigned char in[8], const KeySchedule &ks, bool encipher)
{
    Bits m[64];
    Bits *l = m, *r = m + 32;
    Bits tmp[32];
    bytesToBits(m, in, 64);
    permute(m, m, kIP, 64);
    if (encipher) {
        for (int i = 0; i < 16; ++i) {
            std::memcpy(tmp, r, sizeof tmp);
            feistel(r, ks.sub[i]);
            for (int j = 0; j < 32; ++j)
                r[j] ^= l[j];
            std::memcpy(l, tmp, sizeof tmp);
        }
    } else {
        for (int i = 15; i >= 0; --i) {
            std::memcpy(tmp, l, sizeof tmp);
            feistel(l, ks.sub[i]);
            for (int j = 0; j < 32; ++j)
                l[j] ^= r[j];
            std::memcpy(r, tmp, sizeof tmp);
        }
    }
    // No exchange of the halves after the last round.
    permute(m, m, kFP, 64);
    bitsToBytes(out, m, 64);
}

std::string run(const std::string &input, const std::string &key, bool encipher)
{
    unsigned char k[16] = {};
    const std::size_t keyLen = key.size() > 16 ? 16 : key.size();
    std::memcpy(k, key.data(), keyLen);
    KeySchedule ks1, ks2;
    makeSchedule(&ks1, k);
    const bool triple = keyLen > 8;
    if (triple)
        makeSchedule(&ks2, k + 8);

    std::string buf(filledLength(input.size()), '\0');
    std::memcpy(&buf[0], input.data(), input.size());
    for (std::size_t off = 0; off < buf.size(); off += 8) {
        auto *b = reinterpret_cast<unsigned char *>(&buf[off]);
        if (!triple) {
            desBlock(b, b, ks1, encipher);
        } else {
            desBlock(b, b, ks1, encipher);
            desBlock(b, b, ks2, !encipher);
            desBlock(b, b, ks1, encipher);
        }
    }
    return buf;
}

const char kB64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int b64Value(char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

} // namespace

std::string desEncrypt(const std::string &plain, const std::string &key)
{
    return run(plain, key, true);
}

std::string desDecrypt(const std::string &cipher, const std::string &key)
{
    if (cipher.size() % 8 != 0)
        return std::string();
    return run(cipher, key, false);
}

std::string base64Encode(const std::string &bytes)
{
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    for (; i + 3 <= bytes.size(); i += 3) {
        const uint32_t v = (p[i] << 16) | (p[i + 1] << 8) | p[i + 2];
        out += kB64[(v >> 18) & 63];
        out += kB64[(v >> 12) & 63];
        out += kB64[(v >> 6) & 63];
        out += kB64[v & 63];
    }
    const std::size_t rest = bytes.size() - i;
    if (rest == 1) {
        const uint32_t v = p[i] << 16;
        out += kB64[(v >> 18) & 63];
        out += kB64[(v >> 12) & 63];
        out += "==";
    } else if (rest == 2) {
        const uint32_t v = (p[i] << 16) | (p[i + 1] << 8);
        out += kB64[(v >> 18) & 63];
        out += kB64[(v >> 12) & 63];
        out += kB64[(v >> 6) & 63];
        out += '=';
    }
    return out;
}

bool base64Decode(const std::string &text, std::string *bytes)
{
    bytes->clear();
    if (text.size() % 4 != 0)
        return false;
    for (std::size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        int v[4];
        int pad = 0;
        for (int j = 0; j < 4; ++j) {
            const char c = text[i + j];
            if (c == '=' && last && j >= 2) {
                v[j] = 0;
                ++pad;
                continue;
            }
            if (pad > 0)
                return false; // data after padding
            v[j] = b64Value(c);
            if (v[j] < 0)
                return false;
        }
        const uint32_t w = (v[0] << 18) | (v[1] << 12) | (v[2] << 6) | v[3];
        bytes->push_back(static_cast<char>((w >> 16) & 0xFF));
        if (pad < 2)
            bytes->push_back(static_cast<char>((w >> 8) & 0xFF));
        if (pad < 1)
            bytes->push_back(static_cast<char>(w & 0xFF));
    }
    return true;
}

std::string keyFromSerial(const std::string &serial)
{
    char buf[32] = {};
    std::memcpy(buf, serial.data(), serial.size() < 31 ? serial.size() : 31);
    std::string key(8, '\0');
    for (int i = 0; i < 6; ++i)
        key[static_cast<std::size_t>(i)] = buf[kKeyPositions[i]];
    return key;
}

std::string encryptData(const std::string &plain, const std::string &serial)
{
    return base64Encode(desEncrypt(plain, keyFromSerial(serial)));
}

bool decryptData(const std::string &data, const std::string &serial, std::string *plain, std::string *error)
{
    std::string cipher;
    if (!base64Decode(data, &cipher)) {
        if (error)
            *error = "Data is not Base64";
        return false;
    }
    if (cipher.empty() || cipher.size() % 8 != 0) {
        if (error)
            *error = "Data is not a whole number of cipher blocks";
        return false;
    }
    std::string out = desDecrypt(cipher, keyFromSerial(serial));
    while (!out.empty() && out.back() == '\0')
        out.pop_back();
    *plain = out;
    return true;
}

std::string hash8(const std::string &bytes)
{
    unsigned char d[EVP_MAX_MD_SIZE] = {};
    unsigned int len = 0;
    EVP_Digest(bytes.data(), bytes.size(), d, &len, EVP_md5(), nullptr);
    std::string out(8, '0');
    for (int i = 0; i < 8; ++i) {
        const int v = (d[2 * i] + d[2 * i + 1]) % 62;
        if (v < 10)
            out[static_cast<std::size_t>(i)] = static_cast<char>('0' + v);
        else if (v < 36)
            out[static_cast<std::size_t>(i)] = static_cast<char>('A' + v - 10);
        else
            out[static_cast<std::size_t>(i)] = static_cast<char>('a' + v - 36);
    }
    return out;
}

long checkTimeNumber(int hour, int minute, int second)
{
    return (static_cast<long>(hour) * 31883 + static_cast<long>(minute) * 28021 +
            static_cast<long>(second) * 9227) %
           1000000;
}

std::string makeCheckCode(const std::string &serial, const std::string &pcMac, const std::string &oemid,
                          int hour, int minute, int second)
{
    const std::string h =
        hash8(serial + pcMac + oemid + std::to_string(checkTimeNumber(hour, minute, second)));
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : h) {
        out += hex[c >> 4];
        out += hex[c & 15];
    }
    return out;
}

} // namespace oemid
