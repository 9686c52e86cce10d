#pragma once

#include <string>

namespace devsim
{

/// Deciphers the "Data" member of a producer-information write with the key derived from the
/// device's serial (the tool's own cipher, shared source). False with a reason.
bool decodeProducerData(const std::string &serial, const std::string &data, std::string *plain,
                        std::string *error);

/// Parses the deciphered text: a JSON object with the string members "MAC" and "OEMID"; the
/// OEMID must not be empty and fits the device's 63-character field.
bool parseProducerPlain(const std::string &plain, std::string *oemid, std::string *mac, std::string *error);

} // namespace devsim
