#include "ctlpassword.h"

#include "ctltr.h"

#include <QFile>

#include <cstdio>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace CtlPassword
{

Result resolve(const Sources &sources)
{
    Result r;
    if (!sources.file.isEmpty()) {
        QFile f(sources.file);
        if (!f.open(QIODevice::ReadOnly)) {
            r.ok = false;
            r.error =
                TallowCtl::tr("Cannot read the password file %1: %2").arg(sources.file, f.errorString());
            return r;
        }
        // A password is a line; a longer file is someone's mistake, not a password. Read a bounded
        // amount so that naming a device file or a pipe without end cannot exhaust memory.
        QByteArray line = f.readLine(4096);
        while (line.endsWith('\n') || line.endsWith('\r'))
            line.chop(1);
        r.password = line;
        r.source = QStringLiteral("file");
        return r;
    }
    if (sources.env) {
        const QByteArray value = sources.env();
        if (!value.isNull()) {
            r.password = value;
            r.source = QStringLiteral("environment");
            return r;
        }
    }
    if (sources.interactive && sources.prompt) {
        r.password = sources.prompt();
        r.source = QStringLiteral("prompt");
        return r;
    }
    r.source = QStringLiteral("none");
    return r;
}

Sources processSources(const QString &file)
{
    Sources s;
    s.file = file;
    s.env = [] {
        return qEnvironmentVariableIsSet("TALLOW_PASSWORD") ? qgetenv("TALLOW_PASSWORD") : QByteArray();
    };
    s.interactive = ::isatty(STDIN_FILENO) == 1;
    s.prompt = [] { return promptOnTerminal(TallowCtl::tr("Device password: ")); };
    return s;
}

QByteArray promptOnTerminal(const QString &label)
{
    std::fputs(label.toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
    termios saved{};
    const bool haveTerm = ::tcgetattr(STDIN_FILENO, &saved) == 0;
    if (haveTerm) {
        termios quiet = saved;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    std::string line;
    for (int c = std::fgetc(stdin); c != EOF && c != '\n'; c = std::fgetc(stdin))
        if (line.size() < 4096)
            line.push_back(char(c));
    if (haveTerm)
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    std::fputc('\n', stderr);
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return QByteArray::fromStdString(line);
}

} // namespace CtlPassword
