#pragma once

#include "onvifxml.h"

#include <chrono>
#include <cstdint>
#include <deque>
#include <mutex>
#include <set>
#include <string>

namespace devsim
{

/// How far a token's Created may be from the device's own clock (either way), and how long the
/// device remembers a nonce so that a captured request cannot be sent again.
constexpr int64_t kTokenWindowSeconds = 300;

enum class TokenCheck {
    Ok,
    Missing,     ///< no UsernameToken in the request
    NotDigest,   ///< a clear-text password or an unknown password type
    Malformed,   ///< nonce not base64, Created not a time
    Stale,       ///< Created outside the window around the device's clock
    Replayed,    ///< the nonce was used already within the window
    BadUser,     ///< unknown user
    BadPassword, ///< the digest does not match the password
};

const char *tokenCheckName(TokenCheck c);

/// Seconds since 1970 (UTC) of an xs:dateTime such as "2026-12-11T08:00:00.123Z" or with an offset
/// "+08:00"; false when the text is not one.
bool parseXsDateTime(const std::string &text, int64_t *seconds);
/// "2026-12-11T08:00:00Z".
std::string formatXsDateTime(int64_t seconds);

/// Base64 (standard alphabet, padded); false on anything else.
bool decodeBase64(const std::string &text, std::string *out);
std::string encodeBase64(const std::string &bytes);
std::string sha1(const std::string &bytes);

/// Checks PasswordDigest = Base64(SHA-1(nonce + Created + password)) against the device's account
/// and clock, and remembers the nonce.
class TokenChecker
{
public:
    TokenCheck check(const UsernameToken &token, const std::string &user, const std::string &password,
                     int64_t deviceNow);

private:
    std::mutex mutex_;
    std::set<std::string> seen_;
    std::deque<std::pair<int64_t, std::string>> order_; ///< (time seen, nonce), oldest first
};

} // namespace devsim
