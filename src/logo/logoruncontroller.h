#pragma once

#include "app/backgroundcall.h"
#include "flash/waverun.h"
#include "logo/logopackage.h"
#include "logo/logorun.h"

#include <QObject>

#include <functional>
#include <memory>
#include <vector>

class DeviceBatch;

/// The logo tab's run sequencing, without its widgets. A run is a snapshot of the form taken at the
/// click; it starts on the tab's batch at once, or is held behind the burns still under way and
/// starts when they end. The newest run is the current one: a newer run supersedes it, so that its
/// devices not yet started are dropped. GUI thread only; signals come on the GUI thread.
class LogoRunController : public QObject
{
    Q_OBJECT
public:
    struct Run {
        std::vector<int> rows;
        LogoRunParams params;
        LogoStageInput stage;
        LogoRunHooks hooks; ///< packageMade is the controller's own (the signal below)
    };

    explicit LogoRunController(DeviceBatch &batch);
    /// Drops a held run, cancels the batch and waits for it: a run's jobs call back into the controller.
    ~LogoRunController() override;

    /// Starts `run` (its pictures staged off this thread first), or holds it until the run being staged
    /// or burnt has ended: false when held.
    bool start(Run run);
    /// Burns `run` as a staged run: every device checked, the package made once, then the devices
    /// that passed the check burnt in waves (see WaveRun); `endedWell` tells, after each step,
    /// whether a row ended ready or burnt. False (nothing started) while a run is under way.
    bool startWaves(Run run, const WaveSettings &settings, std::function<bool(int row)> endedWell);
    /// The staged run; its signals tell of a halt and of its end.
    WaveRun &waveRun() const { return *m_waves; }
    /// True while a run's devices are being made or burnt (between waves included), or a run is held.
    bool running() const;
    /// The run started last; null before the first.
    std::shared_ptr<LogoRunState> currentRun() const { return m_run; }
    /// Forgets a held run without starting it.
    void dropHeld() { m_held = nullptr; }

signals:
    /// Every device of the current run has ended, its staging failed, or it ended cancelled.
    void runEnded();
    /// The pictures and links could not be staged for the package: the run does not start.
    void stageFailed(const QString &text);
    /// Make-only mode: a package was made.
    void packageMade(const QString &path);

private:
    void onBatchFinished();

    DeviceBatch &m_batch;
    BackgroundCall m_stager; ///< stages a run's pictures; waited for when the controller goes
    std::shared_ptr<LogoRunState> m_run;
    quint64 m_runId = 0;
    std::function<void()> m_held; ///< a run started while the previous one still ran
    std::unique_ptr<WaveRun> m_waves;
};
