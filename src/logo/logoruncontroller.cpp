#include "logoruncontroller.h"

#include "device/devicebatch.h"

#include <utility>

LogoRunController::LogoRunController(DeviceBatch &batch) : m_batch(batch)
{
    connect(&m_batch, &DeviceBatch::finished, this, &LogoRunController::onBatchFinished);
}

LogoRunController::~LogoRunController() = default;

bool LogoRunController::running() const
{
    return m_held || m_stager.isRunning() || m_batch.isActive();
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
    // A run that ended without every device reporting (cancelled) still gives the cursor back.
    if (m_run && m_run->done() < m_run->total())
        emit runEnded();
}
