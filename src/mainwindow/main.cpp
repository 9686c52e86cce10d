#include "app/apppaths.h"
#include "app/configkeys.h"
#include "app/crashhandler.h"
#include "app/startup.h"
#include "mainwindow/ctallow.h"
#include "mainwindow/guiprobe.h"

#include <QApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    installCrashHandler();
    // An installed copy keeps its settings and records in the user's directories: make them (and seed
    // Config.ini from the shipped defaults) before anything reads or writes there.
    const AppPaths &paths = AppPaths::current();
    const QString notReady = paths.prepare();
    if (!notReady.isEmpty())
        fprintf(stderr, "Tallow: %s\n", qPrintable(notReady));

    const QString solution = IniFile(ConfigKeys::configPath()).value(ConfigKeys::path(Key::Solution));

    QApplication app(argc, argv);
    // The toolkit and the libraries it loads may have installed handlers of their own meanwhile.
    CrashHandler::reassert();
    Startup::installTranslators(app, paths.shippedDataDir(), solution);

    int result = 0;
    {
        CTallow window;
        app.setStyleSheet(Startup::loadStyleSheet(paths.shippedDataDir()));
        window.show();
        GuiProbe::startIfAsked(window);
        CrashHandler::reassert();
        CrashHandler::startGuard(&app);
        result = app.exec();
    }
    return result;
}
