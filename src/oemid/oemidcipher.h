#pragma once

// The OEMID "Data" cipher and the factory-record check code. Plain C++17 without Qt: the device
// simulator compiles this same pair to decipher what the tool writes and to check records.

#include <cstddef>
#include <string>

namespace oemid
{

/// The filled plain text of an OEMID write may not exceed this (its Base64 form must fit 128 bytes
/// including the terminator on the device side).
constexpr std::size_t kMaxFilledPlain = 88;

/// The DES variant (least-significant-bit-first numbering, no swap after the last round) in ECB
/// mode over the zero-filled 8-byte blocks of `plain`. A key of up to 8 bytes is zero-filled to 8;
/// a key of 9 to 16 bytes runs two-key triple DES (E k1, D k2, E k1, k2 zero-filled). Longer keys
/// use their first 16 bytes.
std::string desEncrypt(const std::string &plain, const std::string &key);

/// Inverse of desEncrypt. The cipher length must be a multiple of 8, else the result is empty.
/// The zero filler stays in the result.
std::string desDecrypt(const std::string &cipher, const std::string &key);

/// Standard Base64 (RFC 4648 alphabet, '=' padding).
std::string base64Encode(const std::string &bytes);
/// Accepts only canonical Base64 (length a multiple of 4, padding at the end only).
bool base64Decode(const std::string &text, std::string *bytes);

/// The 8-byte key of a device: six characters from fixed positions of the serial number's first
/// 16 characters, then two zero bytes. Positions past the serial's end give zero bytes.
std::string keyFromSerial(const std::string &serial);

/// Filled length of a plain text: raised to the next multiple of 8.
inline std::size_t filledLength(std::size_t n)
{
    return (n + 7) / 8 * 8;
}

/// The "Data" member: the plain text enciphered with the serial's key, in Base64.
std::string encryptData(const std::string &plain, const std::string &serial);

/// Reverses encryptData; trailing zero filler is removed. False with a reason on malformed data.
bool decryptData(const std::string &data, const std::string &serial, std::string *plain,
                 std::string *error = nullptr);

/// Eight characters [0-9A-Za-z] from the MD5 digest of `bytes`.
std::string hash8(const std::string &bytes);

/// The time-of-day number mixed into the check code.
long checkTimeNumber(int hour, int minute, int second);

/// 16 upper-case hexadecimal digits: hash8 of serial + pcMac + oemid + checkTimeNumber, each
/// character written as two hex digits. pcMac is passed without colons.
std::string makeCheckCode(const std::string &serial, const std::string &pcMac, const std::string &oemid,
                          int hour, int minute, int second);

} // namespace oemid
