// libFuzzer target: Config.ini as an operator may have edited it. Every key of the table is read
// both ways; then one key is written, which must read back as written while the other keys keep
// their values.
#include "app/configkeys.h"
#include "fuzztemp.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace
{

void check(bool ok, const char *what)
{
    if (!ok) {
        std::fprintf(stderr, "%s\n", what);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // A Config.ini is about 1 KB; far larger inputs only slow the search down.
    if (size > 8 * 1024)
        return 0;
    const QString path = QString::fromStdString(fuzztemp::write("Config.ini", data, size));
    ConfigKeys::setConfigPath(path);
    std::vector<QString> before;
    for (const KeyInfo *k = ConfigKeys::begin(); k != ConfigKeys::end(); ++k) {
        before.push_back(ConfigKeys::stringValue(k->key));
        ConfigKeys::intValue(k->key);
        IniFile(path).profileInt(QString::fromLatin1(k->section), QString::fromLatin1(k->name), -7);
    }
    // The written key: the first byte picks it, so that each one gets its turn.
    const KeyInfo *target =
        ConfigKeys::begin() + (size > 0 ? data[0] : 0) % (ConfigKeys::end() - ConfigKeys::begin());
    const QString text = QStringLiteral(" fuzz value ");
    if (ConfigKeys::setString(target->key, text)) {
        if (target->type == KeyInfo::String)
            check(ConfigKeys::stringValue(target->key) == text, "a written key does not read back");
        size_t i = 0;
        for (const KeyInfo *k = ConfigKeys::begin(); k != ConfigKeys::end(); ++k, ++i) {
            if (k != target && QString::fromLatin1(k->section)
                                       .compare(QLatin1String(target->section), Qt::CaseInsensitive) != 0)
                check(ConfigKeys::stringValue(k->key) == before[i], "a write changed another key");
        }
    }
    return 0;
}
