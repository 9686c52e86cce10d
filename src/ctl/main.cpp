#include "app/apppaths.h"
#include "app/configkeys.h"
#include "app/crashhandler.h"
#include "app/startup.h"
#include "ctl/ctlcommand.h"

#include <QCoreApplication>
#include <QLoggingCategory>

#include <cstdio>

int main(int argc, char *argv[])
{
    installCrashHandler();
    // As the window: an installed copy's directories (and its seeded Config.ini) exist before anything
    // reads or writes there.
    const AppPaths &paths = AppPaths::current();
    if (const QString notReady = paths.prepare(); !notReady.isEmpty())
        std::fprintf(stderr, "tallowctl: %s\n", qPrintable(notReady));

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tallowctl"));
    CrashHandler::reassert();
    // The engine's debug lines are for developers; a script reads stdout and stderr. QT_LOGGING_RULES
    // turns them back on.
    if (!qEnvironmentVariableIsSet("QT_LOGGING_RULES"))
        QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\n*.info=false"));

    Startup::installTranslators(app, paths.shippedDataDir(), ConfigKeys::stringValue(Key::Solution));
    return CtlCommands::run(QCoreApplication::arguments());
}
