#pragma once

// Points the application's settings at a Config.ini of the test's own.

#include <QByteArray>
#include <QFile>
#include <QString>

#include "app/configkeys.h"

/// Writes `text` to `path` and makes it the Config.ini the code under test reads; false when the
/// file cannot be written (the settings path is then left alone).
inline bool useConfigIni(const QString &path, const QByteArray &text)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(text) != text.size())
        return false;
    f.close();
    ConfigKeys::setConfigPath(path);
    return true;
}
