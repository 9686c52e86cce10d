#pragma once

#include <json/json.h>

#include <memory>
#include <sstream>
#include <string>

/// The compact JSON form the devices and the record service expect: members ordered by name, no
/// blanks between tokens, non-ASCII escaped, one line feed at the end.
inline std::string compactJson(const Json::Value &value)
{
    Json::StreamWriterBuilder b;
    b["indentation"] = "";
    b["commentStyle"] = "None";
    b["emitUTF8"] = false;
    std::unique_ptr<Json::StreamWriter> w(b.newStreamWriter());
    std::ostringstream out;
    w->write(value, &out);
    out << '\n';
    return out.str();
}

/// Parses JSON text; false (and a null value) when it is not JSON.
inline bool parseJson(const char *begin, const char *end, Json::Value *value)
{
    Json::CharReaderBuilder b;
    std::unique_ptr<Json::CharReader> reader(b.newCharReader());
    std::string errs;
    if (reader->parse(begin, end, value, &errs))
        return true;
    *value = Json::Value();
    return false;
}
