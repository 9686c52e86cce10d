#include "mainwindow/buildstamp.h"

#include <QLocale>

BuildStamp BuildStamp::parse(const QString &compileDate, const QString &compileTime)
{
    QString d = compileDate;
    d.replace(QLatin1String("  "), QLatin1String(" 0"));
    BuildStamp s;
    s.date = QLocale(QLocale::English).toDate(d, QStringLiteral("MMM dd yyyy"));
    s.time = QTime::fromString(compileTime, QStringLiteral("hh:mm:ss"));
    return s;
}

const BuildStamp &BuildStamp::current()
{
    static const BuildStamp stamp = parse(QStringLiteral(__DATE__), QStringLiteral(__TIME__));
    return stamp;
}

QString windowTitleText(const QString &product, const BuildStamp &stamp, const QString &version)
{
    return QStringLiteral("%1 %2 R%3 %4")
        .arg(product, stamp.date.toString(QStringLiteral("yyyyMMdd")),
             stamp.time.toString(QStringLiteral("hhmmss")), version);
}
