#pragma once

#include "flash/waverun.h"

class QWidget;

/// The box a tab shows when its run in waves halts: which wave failed and why, with "Go on" and
/// "Stop" while a next wave is there.
namespace WaveHaltBox
{

/// Tells the operator of `halt` and goes on with the next wave of `waves` when asked to; true when it
/// started. Otherwise the halt is forgotten and the run is over.
bool ask(QWidget *parent, WaveRun &waves, const WaveHalt &halt, WaveRun::Goal goal);

} // namespace WaveHaltBox
