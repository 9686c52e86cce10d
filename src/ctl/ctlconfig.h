#pragma once

#include "app/configkeys.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

class QCommandLineParser;
class QTemporaryDir;

/// Config.ini keys as command-line flags. Without a flag a value comes from the Config.ini the
/// application reads; with one, the command reads a private copy of that file with the flag's value
/// in it, so every part of the engine (which reads its keys at each run start) sees the same values.
namespace CtlConfig
{

struct Flag {
    Key key;
    const char *name;        ///< the flag, without "--"
    const char *valueName;   ///< untranslated; context "TallowCtl"
    const char *description; ///< untranslated; context "TallowCtl"
};

/// Every key that a flag can set (the window's own keys, nCurrentIndex and Version, have none).
const std::vector<Flag> &flags();
/// The flag of `key`; null when the key has none.
const Flag *flagOf(Key key);

/// Adds the flags of `keys` to `parser`.
void addOptions(QCommandLineParser &parser, const std::vector<Key> &keys);

/// The value to store for `key` from a flag's text ("on"/"off" and the like for switches, checked
/// integers); false with `error` set when the text does not fit the key.
bool normalise(Key key, const QString &text, QString *value, QString *error);

/// Writes the values given on the command line into a copy of Config.ini in `scratch` and points
/// ConfigKeys at it; nothing happens when no flag of `keys` was given. False with `error` set when a
/// value is wrong or the copy cannot be written.
bool apply(const QCommandLineParser &parser, const std::vector<Key> &keys, QTemporaryDir &scratch,
           QString *error);

} // namespace CtlConfig
