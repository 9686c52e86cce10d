#include "app/startup.h"

#include <QCoreApplication>
#include <QFile>
#include <QTranslator>

namespace Startup
{

int installTranslators(QCoreApplication &app, const QString &appDir, const QString &solution)
{
    if (solution != QLatin1String("SimpChinese"))
        return 0;
    int installed = 0;
    for (const char *name : {"/language/tallow_zh.qm", "/language/SimpChinese_Qt.qm"}) {
        auto *translator = new QTranslator(&app);
        if (translator->load(appDir + QLatin1String(name)) && QCoreApplication::installTranslator(translator))
            ++installed;
        else
            delete translator;
    }
    return installed;
}

QString loadStyleSheet(const QString &appDir)
{
    QFile file(QStringLiteral("%1/skin/style.css").arg(appDir));
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    QString sheet = QString::fromUtf8(file.readAll());
    QString dir = appDir;
    while (dir.size() > 1 && dir.endsWith(QLatin1Char('/')))
        dir.chop(1);
    return sheet.replace(QLatin1String("@skinpath"), dir);
}

} // namespace Startup
