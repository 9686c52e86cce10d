#pragma once

#include "device/devicerows.h"
#include "flash/waveplan.h"

#include <QObject>

#include <functional>
#include <optional>
#include <vector>

class DeviceBatch;
struct BatchSummary;

/// Why a staged run halted.
struct WaveHalt {
    int wave = 0;       ///< 1-based
    int size = 0;       ///< devices of that wave
    int failed = 0;     ///< of them, the ones that did not end well
    int haltAt = 0;     ///< the threshold those failures reached
    int notStarted = 0; ///< devices of the later waves, now "Halted"
    bool canResume() const { return notStarted > 0; }
};

/// How a staged run ended, when it did not halt.
struct WaveEnd {
    int waves = 0;    ///< waves run to their end
    int notReady = 0; ///< devices left out because their check failed
    bool cancelled = false;
    bool rowsGone = false; ///< a new search replaced the rows under the run
};

/// A run in waves on a tab's device batch, without widgets: first the check of every device, then
/// the devices that passed it in waves (table order, sizes from WaveSettings), each wave a run of
/// the batch. The next wave starts only when the devices of the current one ended well, or the ones
/// that did not stay below the halt threshold; past it the run halts, the devices of later waves get
/// "Halted: wave N failed" (StatusOutcome::Halted) and halted() is emitted. resume() then goes on
/// with the next wave.
///
/// Each device's row gets its wave number (a Field::Wave value) and "Wave N" (a neutral step) when its
/// wave starts, so the history and the export tell which wave took it.
///
/// Each run gets its steps (capturing that run's parameters); they start batch runs and return at once.
/// Whether a device ended well is asked of the owner after the batch's finished(), when every report of the
/// wave is in. GUI (the batch's) thread only; signals come on that thread.
class WaveRun : public QObject
{
    Q_OBJECT
public:
    struct Steps {
        /// Starts the check of `rows` on the batch (nothing sent); false when it did not start.
        std::function<bool(const std::vector<int> &rows)> check;
        /// Starts one wave over `rows` on the batch; false when it did not start.
        std::function<bool(const std::vector<int> &rows)> wave;
        /// After the check or a wave: whether the device of `row` ended well (ready, verified).
        std::function<bool(int row)> endedWell;
    };
    enum class State { Idle, Checking, Running, Halted };

    explicit WaveRun(DeviceBatch &batch, QObject *parent = nullptr);
    ~WaveRun() override;

    /// Checks `rows` (in table order) and goes on in waves; false (nothing started) while a run is
    /// checking or running, or when the check did not start. A halted run is dropped.
    bool start(const std::vector<int> &rows, const WaveSettings &settings, Steps steps);
    /// After a halt: starts the next wave; false when there is none, the rows were replaced since or
    /// the batch is busy.
    bool resume();
    /// Forgets a halted run.
    void abandon();
    /// Starts no further wave of the run under way (its owner is shutting the batch down); nothing is
    /// emitted for it any more.
    void stop();

    State state() const { return m_state; }
    /// True while the check or a wave runs, between waves included.
    bool busy() const { return m_state == State::Checking || m_state == State::Running; }
    /// The waves planned after the check, rows in table order.
    const std::vector<std::vector<int>> &waves() const { return m_waves; }
    /// 1-based number of the wave running or last run; 0 while checking.
    int currentWave() const { return m_current + 1; }
    /// The last halt, while halted.
    std::optional<WaveHalt> lastHalt() const { return m_halt; }

    /// What a wave's devices had to end as: all the tabs' halt texts differ by.
    enum class Goal { Verified, Burnt };
    /// The operator's account of `halt` in a run of `waveCount` waves: which wave failed and why, then,
    /// when a next wave is there, the question whether to go on with it (on a line of its own).
    static QString haltMessage(const WaveHalt &halt, int waveCount, Goal goal);
    /// The text of a device a halt left unstarted.
    static QString haltedText(int wave);
    /// The step text of a device whose wave starts.
    static QString waveText(int wave);

signals:
    void waveStarted(int wave, int devices);
    void halted(const WaveHalt &halt);
    void ended(const WaveEnd &end);

private:
    void onBatchFinished(const BatchSummary &summary);
    void startWave(int index);
    void end(WaveEnd end);

    DeviceBatch &m_batch;
    Steps m_steps;
    WaveSettings m_settings;
    std::optional<BoundRows> m_rows;
    std::vector<int> m_all;
    std::vector<std::vector<int>> m_waves;
    int m_current = -1;
    int m_notReady = 0;
    State m_state = State::Idle;
    std::optional<WaveHalt> m_halt;
};

Q_DECLARE_METATYPE(WaveHalt)
Q_DECLARE_METATYPE(WaveEnd)
