#include "ctlwaves.h"

#include "ctlcommand.h"
#include "ctlinterrupt.h"
#include "ctltr.h"

#include "device/devicebatch.h"
#include "device/devicetable.h"

#include <QEventLoop>

namespace CtlWaves
{

int waitForRun(DeviceBatch &batch, const std::function<void()> &stopHard, WaveRun *waves)
{
    QEventLoop loop;
    CtlInterrupt interrupt;
    if (waves) {
        QObject::connect(waves, &WaveRun::ended, &loop, &QEventLoop::quit);
        QObject::connect(waves, &WaveRun::halted, &loop, &QEventLoop::quit);
    } else {
        QObject::connect(&batch, &DeviceBatch::finished, &loop, &QEventLoop::quit);
    }
    QObject::connect(&interrupt, &CtlInterrupt::interrupted, &loop, [&](int count) {
        if (count == 1) {
            CtlCommand::error(TallowCtl::tr("Interrupted: no further device starts; waiting for the devices "
                                            "under way (Ctrl+C again stops them)"));
            if (waves) {
                // No further wave; what is under way ends as the batch's devices do.
                waves->stop();
                QObject::connect(&batch, &DeviceBatch::finished, &loop, &QEventLoop::quit);
                if (!batch.isActive())
                    loop.quit();
            }
            batch.cancel();
        } else if (count == 2) {
            CtlCommand::error(TallowCtl::tr("Interrupted again: stopping the devices under way"));
            stopHard();
            loop.quit();
        }
    });
    if (waves ? waves->busy() : batch.isActive())
        loop.exec();
    return interrupt.count();
}

void finishWaves(WaveRun &waves, QJsonObject *extra,
                 const std::function<QString(const WaveHalt &halt, int waves)> &haltLine)
{
    if (const std::optional<WaveHalt> halt = waves.lastHalt()) {
        CtlCommand::error(haltLine(*halt, int(waves.waves().size())));
        extra->insert(QStringLiteral("halted"),
                      QJsonObject{{QStringLiteral("wave"), halt->wave},
                                  {QStringLiteral("failed"), halt->failed},
                                  {QStringLiteral("size"), halt->size},
                                  {QStringLiteral("notStarted"), halt->notStarted}});
        waves.abandon();
    }
    extra->insert(QStringLiteral("waves"), int(waves.waves().size()));
}

void markUnstarted(DeviceTable &table, const QList<int> &rows)
{
    table.flushPending();
    const QList<int> failed = table.failedRows();
    for (int row : rows) {
        if (table.wave(row) == 0 && !failed.contains(row))
            table.setStatusText(row, StatusOutcome::Failure, TallowCtl::tr("Not started: interrupted"));
    }
    table.flushPending();
}

} // namespace CtlWaves
