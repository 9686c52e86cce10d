#include "app/configkeys.h"
#include "app/crashhandler.h"
#include "app/startup.h"
#include "ctl/ctlcommand.h"

#include <QCoreApplication>
#include <QLoggingCategory>

int main(int argc, char *argv[])
{
    installCrashHandler();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tallowctl"));
    CrashHandler::reassert();
    // The engine's debug lines are for developers; a script reads stdout and stderr. QT_LOGGING_RULES
    // turns them back on.
    if (!qEnvironmentVariableIsSet("QT_LOGGING_RULES"))
        QLoggingCategory::setFilterRules(QStringLiteral("*.debug=false\n*.info=false"));

    const QString appDir = QCoreApplication::applicationDirPath();
    Startup::installTranslators(app, appDir, ConfigKeys::stringValue(Key::Solution));
    return CtlCommands::run(QCoreApplication::arguments());
}
