#include "app/configkeys.h"
#include "app/crashhandler.h"
#include "app/startup.h"
#include "mainwindow/ctallow.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    installCrashHandler();
    QApplication app(argc, argv);
    // The toolkit and the libraries it loads may have installed handlers of their own meanwhile.
    CrashHandler::reassert();

    const QString appDir = QCoreApplication::applicationDirPath();
    const QString solution =
        IniFile(appDir + QStringLiteral("/Config.ini")).value(ConfigKeys::path(Key::Solution));
    Startup::installTranslators(app, appDir, solution);

    int result = 0;
    {
        CTallow window;
        app.setStyleSheet(Startup::loadStyleSheet(appDir));
        window.show();
        CrashHandler::reassert();
        CrashHandler::startGuard(&app);
        result = app.exec();
    }
    return result;
}
