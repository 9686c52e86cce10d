#pragma once

#include "flash/waverun.h"

#include <QJsonObject>
#include <QList>
#include <QString>

#include <functional>

class DeviceBatch;
class DeviceTable;

/// Waiting for a command's run on the engine, and what a run in waves adds to its summary.
namespace CtlWaves
{

/// Waits for the batch's run to end, or with `waves` for the wave run's end or halt (the batch idles
/// between the check and each wave). The first interrupt asks the run to stop as closing the window
/// does (no device or wave starts any more; the ones under way finish or fail by themselves); a second
/// one calls `stopHard` to end the transfers still running. Returns how many interrupts came.
int waitForRun(DeviceBatch &batch, const std::function<void()> &stopHard, WaveRun *waves = nullptr);

/// After waitForRun() with waves: nobody is there to answer "go on", so a halted run stops here. The
/// summary gets `waves` (the waves planned) and, after a halt, `halted` (wave, failed, size,
/// notStarted); the halt is then forgotten. `haltLine` gives the stderr line for a halt, built from the
/// halt and the number of waves.
void finishWaves(WaveRun &waves, QJsonObject *extra,
                 const std::function<QString(const WaveHalt &halt, int waves)> &haltLine);

/// After an interrupt of a run in waves: a device no wave took passed its check at most, and that
/// check's "Ready" is no result of the run. It reads "Not started: interrupted", a failure, as the
/// devices an interrupted plain run never reached do; devices that failed their check keep its text.
void markUnstarted(DeviceTable &table, const QList<int> &rows);

} // namespace CtlWaves
