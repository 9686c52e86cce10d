#include "wssecurity.h"

#include <openssl/evp.h>
#include <openssl/sha.h>

#include <cctype>
#include <cstdio>
#include <ctime>

namespace devsim
{

namespace
{

const char kDigestType[] =
    "http://docs.oasis-open.org/wss/2004/01/oasis-200401-wss-username-token-profile-1.0#PasswordDigest";

// Days from 1970-01-01 to a civil date (proleptic Gregorian), without the local time zone.
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = unsigned(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + int64_t(doe) - 719468;
}

bool digits(const std::string &s, size_t at, size_t n, int *out)
{
    if (at + n > s.size())
        return false;
    int v = 0;
    for (size_t i = at; i < at + n; ++i) {
        if (!std::isdigit(static_cast<unsigned char>(s[i])))
            return false;
        v = v * 10 + (s[i] - '0');
    }
    *out = v;
    return true;
}

} // namespace

const char *tokenCheckName(TokenCheck c)
{
    switch (c) {
    case TokenCheck::Ok:
        return "ok";
    case TokenCheck::Missing:
        return "no token";
    case TokenCheck::NotDigest:
        return "not a password digest";
    case TokenCheck::Malformed:
        return "malformed token";
    case TokenCheck::Stale:
        return "Created outside the window of the device's clock";
    case TokenCheck::Replayed:
        return "nonce used before";
    case TokenCheck::BadUser:
        return "unknown user";
    case TokenCheck::BadPassword:
        return "wrong password";
    }
    return "?";
}

bool parseXsDateTime(const std::string &s, int64_t *seconds)
{
    int y, mo, d, h, mi, se;
    if (!digits(s, 0, 4, &y) || s.size() < 19 || s[4] != '-' || !digits(s, 5, 2, &mo) || s[7] != '-' ||
        !digits(s, 8, 2, &d) || (s[10] != 'T' && s[10] != 't') || !digits(s, 11, 2, &h) || s[13] != ':' ||
        !digits(s, 14, 2, &mi) || s[16] != ':' || !digits(s, 17, 2, &se))
        return false;
    if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || se > 60)
        return false;
    size_t i = 19;
    if (i < s.size() && s[i] == '.') {
        ++i;
        const size_t start = i;
        while (i < s.size() && std::isdigit(static_cast<unsigned char>(s[i])))
            ++i;
        if (i == start || i - start > 9)
            return false;
    }
    int64_t offset = 0;
    if (i < s.size() && (s[i] == 'Z' || s[i] == 'z')) {
        ++i;
    } else if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        int oh, om;
        if (!digits(s, i + 1, 2, &oh) || i + 3 >= s.size() || s[i + 3] != ':' || !digits(s, i + 4, 2, &om) ||
            oh > 14 || om > 59)
            return false;
        offset = (s[i] == '+' ? 1 : -1) * (oh * 3600 + om * 60);
        i += 6;
    }
    if (i != s.size())
        return false;
    *seconds = daysFromCivil(y, unsigned(mo), unsigned(d)) * 86400 + h * 3600 + mi * 60 + se - offset;
    return true;
}

std::string formatXsDateTime(int64_t seconds)
{
    const std::time_t t = std::time_t(seconds);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return buf;
}

bool decodeBase64(const std::string &text, std::string *out)
{
    if (text.empty() || text.size() % 4 != 0 || text.size() > 4096)
        return false;
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        const bool pad = c == '=' && i + 2 >= text.size();
        if (!std::isalnum(c) && c != '+' && c != '/' && !pad)
            return false;
    }
    if (text[text.size() - 2] == '=' && text.back() != '=')
        return false;
    std::string buf(text.size() / 4 * 3, '\0');
    const int n = EVP_DecodeBlock(reinterpret_cast<unsigned char *>(&buf[0]),
                                  reinterpret_cast<const unsigned char *>(text.data()), int(text.size()));
    if (n < 0)
        return false;
    size_t len = size_t(n);
    // EVP_DecodeBlock counts the padding as zero bytes.
    if (text.back() == '=')
        --len;
    if (text[text.size() - 2] == '=')
        --len;
    buf.resize(len);
    *out = buf;
    return true;
}

std::string encodeBase64(const std::string &bytes)
{
    std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char *>(&out[0]),
                                  reinterpret_cast<const unsigned char *>(bytes.data()), int(bytes.size()));
    out.resize(size_t(n));
    return out;
}

std::string sha1(const std::string &bytes)
{
    unsigned char md[SHA_DIGEST_LENGTH];
    SHA1(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size(), md);
    return std::string(reinterpret_cast<const char *>(md), sizeof md);
}

TokenCheck TokenChecker::check(const UsernameToken &token, const std::string &user,
                               const std::string &password, int64_t deviceNow)
{
    if (!token.present)
        return TokenCheck::Missing;
    if (token.passwordType != kDigestType)
        return TokenCheck::NotDigest;
    std::string nonce;
    int64_t created = 0;
    if (!decodeBase64(token.nonce, &nonce) || nonce.size() < 8 || !parseXsDateTime(token.created, &created))
        return TokenCheck::Malformed;
    if (created > deviceNow + kTokenWindowSeconds || created < deviceNow - kTokenWindowSeconds)
        return TokenCheck::Stale;
    if (token.user != user)
        return TokenCheck::BadUser;
    const std::string expected = encodeBase64(sha1(nonce + token.created + password));
    if (token.password != expected)
        return TokenCheck::BadPassword;
    std::lock_guard<std::mutex> lock(mutex_);
    while (!order_.empty() && order_.front().first < deviceNow - 2 * kTokenWindowSeconds) {
        seen_.erase(order_.front().second);
        order_.pop_front();
    }
    if (!seen_.insert(nonce).second)
        return TokenCheck::Replayed;
    order_.emplace_back(deviceNow, nonce);
    // A flood of valid requests must not grow the memory without end; a real device keeps a
    // bounded list too.
    constexpr size_t kMaxNonces = 65536;
    if (order_.size() > kMaxNonces) {
        seen_.erase(order_.front().second);
        order_.pop_front();
    }
    return TokenCheck::Ok;
}

} // namespace devsim
