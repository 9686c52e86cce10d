#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

/// Where the device password of a command comes from. Never the command line, where every user of
/// the station can read it: a file named with --password-file, else TALLOW_PASSWORD, else a prompt
/// when stdin is a terminal, else empty (the tabs' default).
namespace CtlPassword
{

struct Sources {
    QString file;                       ///< --password-file; empty when not given
    std::function<QByteArray()> env;    ///< TALLOW_PASSWORD; null QByteArray when unset
    bool interactive = false;           ///< stdin is a terminal
    std::function<QByteArray()> prompt; ///< asks on the terminal without echo
};

struct Result {
    bool ok = true;
    QByteArray password;
    QString source; ///< "file", "environment", "prompt" or "none"
    QString error;  ///< why the file could not be read
};

/// The password: the file's first line (without its line end), the variable's value, what the
/// prompt returned, or empty.
Result resolve(const Sources &sources);

/// Sources of this process: the environment and stdin.
Sources processSources(const QString &file);

/// Reads a line from the terminal with echo off, after printing `label` on stderr.
QByteArray promptOnTerminal(const QString &label);

} // namespace CtlPassword
