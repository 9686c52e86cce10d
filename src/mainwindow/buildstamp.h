#pragma once

#include <QDate>
#include <QString>
#include <QTime>

/// The build's date and time, from the compiler's __DATE__ ("MMM dd yyyy", a day below 10 with two
/// blanks before the digit) and __TIME__ ("hh:mm:ss").
struct BuildStamp {
    QDate date;
    QTime time;

    static BuildStamp parse(const QString &compileDate, const QString &compileTime);
    /// The stamp of this build, computed once per process.
    static const BuildStamp &current();
};

/// "%1 %2 R%3 %4": product title, yyyyMMdd, hhmmss, version text.
QString windowTitleText(const QString &product, const BuildStamp &stamp, const QString &version);
