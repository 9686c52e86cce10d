#pragma once

// Whole-file reads and writes for GoogleTest tests built on Qt.

#include <QByteArray>
#include <QFile>
#include <QString>

#include <gtest/gtest.h>

/// The file's bytes; empty when it cannot be read.
inline QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

/// Replaces the file with `data`; a fatal failure of the calling test when it cannot be opened.
inline void writeFile(const QString &path, const QByteArray &data)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(data);
}
