#include "flash/wavehaltbox.h"

#include "app/cmessagebox.h"

#include <QCoreApplication>

namespace WaveHaltBox
{

bool ask(QWidget *parent, WaveRun &waves, const WaveHalt &halt, WaveRun::Goal goal)
{
    const QString text = WaveRun::haltMessage(halt, int(waves.waves().size()), goal);
    if (!halt.canResume()) {
        CMessageBox::warning(parent, QStringLiteral("Prompt"), text);
        waves.abandon();
        return false;
    }
    const int answer = CMessageBox::question(parent, QStringLiteral("Prompt"), text,
                                             QCoreApplication::translate("WaveHaltBox", "Go on"),
                                             QCoreApplication::translate("WaveHaltBox", "Stop"));
    if (answer == 0 && waves.resume())
        return true;
    waves.abandon();
    return false;
}

} // namespace WaveHaltBox
