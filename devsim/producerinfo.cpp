#include "producerinfo.h"

#include <json/json.h>

#include <sstream>

#include "oemid/oemidcipher.h"

namespace devsim
{

bool decodeProducerData(const std::string &serial, const std::string &data, std::string *plain,
                        std::string *error)
{
    std::string why;
    if (!oemid::decryptData(data, serial, plain, &why)) {
        *error = "Data does not decipher: " + why;
        return false;
    }
    return true;
}

bool parseProducerPlain(const std::string &plain, std::string *oemid, std::string *mac, std::string *error)
{
    // The filler of the last cipher block is zero bytes; a wrong key leaves binary noise instead.
    std::string text = plain;
    while (!text.empty() && text.back() == '\0')
        text.pop_back();
    Json::CharReaderBuilder b;
    b["failIfExtra"] = true;
    Json::Value v;
    std::string errs;
    std::istringstream in(text);
    if (!Json::parseFromStream(b, in, &v, &errs) || !v.isObject()) {
        *error = "deciphered Data is not a JSON object";
        return false;
    }
    if (!v["OEMID"].isString() || !v["MAC"].isString()) {
        *error = "deciphered Data lacks the string members OEMID and MAC";
        return false;
    }
    const std::string o = v["OEMID"].asString();
    if (o.empty() || o.size() > 63) {
        *error = "OEMID empty or longer than 63 characters";
        return false;
    }
    *oemid = o;
    *mac = v["MAC"].asString();
    return true;
}

} // namespace devsim
