#include "logoruncontroller.h"

#include "device/devicebatch.h"

#include <utility>

LogoRunController::LogoRunController(DeviceBatch &batch) : m_batch(batch)
{
    connect(&m_batch, &DeviceBatch::finished, this, &LogoRunController::onBatchFinished);
    // Made after the connection above: at a batch's end the controller sees the waves still busy.
    m_waves = std::make_unique<WaveRun>(batch);
    // A staged run ends when its waves end or halt, whatever its devices counted.
    connect(m_waves.get(), &WaveRun::ended, this, [this] { emit runEnded(); });
    connect(m_waves.get(), &WaveRun::halted, this, [this] { emit runEnded(); });
}

LogoRunController::~LogoRunController()
{
    m_held = nullptr;
    m_waves->stop();
    m_batch.cancelAndWait();
}

bool LogoRunController::running() const
{
    return m_held || m_stager.isRunning() || m_batch.isActive() || m_waves->busy();
}

bool LogoRunController::startWaves(Run run, const WaveSettings &settings,
                                   std::function<bool(int row)> endedWell)
{
    if (running())
        return false;
    if (m_run)
        m_run->supersede();
    ++m_runId;
    run.params.modify = true;
    // The counters of a staged run do not end it: the waves do.
    m_run = std::make_shared<LogoRunState>(run.params.appDir, int(run.rows.size()), nullptr);
    const std::shared_ptr<LogoRunState> state = m_run;
    auto staged = std::make_shared<bool>(false);

    WaveRun::Steps steps;
    DeviceBatch *batch = &m_batch;
    steps.check = [batch, run](const std::vector<int> &rows) {
        return startLogoChecks(*batch, QList<int>(rows.begin(), rows.end()), run.params, run.hooks);
    };
    steps.wave = [this, batch, run, state, staged](const std::vector<int> &rows) {
        // Staged once, before the first wave (on this thread: the check has ended, nothing else waits
        // on it); every wave burns the package the first one made.
        if (!*staged) {
            if (!state->builder().dealWithLogo(run.stage)) {
                emit stageFailed(state->builder().lastError());
                return false;
            }
            *staged = true;
        }
        BatchPlan plan = logoPlan(rows, run.params, state, run.hooks);
        plan.options.marksRun = false; // the check marked every device of the run
        return batch->start(std::move(plan));
    };
    steps.endedWell = std::move(endedWell);
    return m_waves->start(run.rows, settings, std::move(steps));
}

bool LogoRunController::start(Run run)
{
    // A new run replaces the counters and the devices still waiting in the old one; the old run's
    // started burns finish on their own.
    if (m_run)
        m_run->supersede();
    const quint64 id = ++m_runId;
    m_run = std::make_shared<LogoRunState>(run.params.appDir, int(run.rows.size()), [this, id] {
        QMetaObject::invokeMethod(
            this,
            [this, id] {
                if (id == m_runId)
                    emit runEnded();
            },
            Qt::QueuedConnection);
    });
    run.hooks.packageMade = [this](const QString &path) {
        QMetaObject::invokeMethod(
            this, [this, path] { emit packageMade(path); }, Qt::QueuedConnection);
    };

    const std::shared_ptr<LogoRunState> state = m_run;
    m_held = [this, run = std::move(run), state] {
        // Staged only now: the previous run may still have been making its package from the tree. The
        // pictures are decoded on the way, off the GUI thread.
        m_stager.start<bool>([state, stage = run.stage] { return state->builder().dealWithLogo(stage); },
                             [this, run, state](const bool &staged) {
                                 if (!staged) {
                                     emit stageFailed(state->builder().lastError());
                                     emit runEnded();
                                 } else if (!state->superseded()) {
                                     m_batch.start(logoPlan(run.rows, run.params, state, run.hooks));
                                     return;
                                 }
                                 // A run held meanwhile goes next.
                                 if (m_held && !m_batch.isActive())
                                     std::exchange(m_held, nullptr)();
                             });
    };
    if (m_batch.isActive() || m_stager.isRunning())
        return false;
    onBatchFinished();
    return true;
}

void LogoRunController::onBatchFinished()
{
    if (m_held) {
        const std::function<void()> start = std::move(m_held);
        m_held = nullptr;
        start();
        return;
    }
    if (m_waves->busy())
        return; // the staged run goes on with its next step
    // A run that ended without every device reporting (cancelled) still gives the cursor back.
    if (m_run && m_run->done() < m_run->total())
        emit runEnded();
}
