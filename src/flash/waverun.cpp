#include "flash/waverun.h"

#include "device/devicebatch.h"

#include <QCoreApplication>

WaveRun::WaveRun(DeviceBatch &batch, QObject *parent) : QObject(parent), m_batch(batch)
{
    qRegisterMetaType<WaveHalt>();
    qRegisterMetaType<WaveEnd>();
    connect(&m_batch, &DeviceBatch::finished, this, &WaveRun::onBatchFinished);
}

WaveRun::~WaveRun() = default;

QString WaveRun::haltedText(int wave)
{
    return QCoreApplication::translate("WaveRun", "Halted: wave %1 failed").arg(wave);
}

QString WaveRun::haltMessage(const WaveHalt &halt, int waveCount, Goal goal)
{
    // Whole sentences per goal, so that each reads naturally in translation.
    const QString why =
        (goal == Goal::Verified
             ? QCoreApplication::translate("WaveRun",
                                           "Wave %1 of %2 failed: %3 of its %4 devices did not end "
                                           "verified (the run halts at %5). %6 devices were not started.")
             : QCoreApplication::translate("WaveRun",
                                           "Wave %1 of %2 failed: %3 of its %4 devices did not end burnt "
                                           "(the run halts at %5). %6 devices were not started."))
            .arg(halt.wave)
            .arg(waveCount)
            .arg(halt.failed)
            .arg(halt.size)
            .arg(halt.haltAt)
            .arg(halt.notStarted);
    if (!halt.canResume())
        return why;
    const QString question =
        goal == Goal::Verified
            ? QCoreApplication::translate("WaveRun", "Go on with wave %1?", "firmware upgrade")
            : QCoreApplication::translate("WaveRun", "Go on with wave %1?", "logo burn");
    return why + QLatin1Char('\n') + question.arg(halt.wave + 1);
}

QString WaveRun::waveText(int wave)
{
    return QCoreApplication::translate("WaveRun", "Wave %1").arg(wave);
}

bool WaveRun::start(const std::vector<int> &rows, const WaveSettings &settings, Steps steps)
{
    if (busy() || m_batch.isActive())
        return false;
    m_steps = std::move(steps);
    m_state = State::Idle;
    m_halt.reset();
    m_settings = settings;
    m_all = rows;
    m_waves.clear();
    m_current = -1;
    m_notReady = 0;
    m_rows.emplace(m_batch.deviceRows());
    // A wave number of an earlier run says nothing about this one.
    for (int row : rows)
        m_rows->value(row, Field::Wave, QStringLiteral("0"));
    m_state = State::Checking;
    if (!m_steps.check(rows)) {
        m_state = State::Idle;
        return false;
    }
    return true;
}

bool WaveRun::resume()
{
    if (m_state != State::Halted || !m_halt || !m_halt->canResume() || m_batch.isActive())
        return false;
    if (!m_rows || !m_rows->current()) {
        abandon();
        return false;
    }
    m_halt.reset();
    // The devices after the next wave wait again: they lose the halt's text.
    for (size_t later = size_t(m_current) + 2; later < m_waves.size(); ++later) {
        for (int row : m_waves[later])
            m_rows->status(row, StatusOutcome::Neutral, waveText(int(later) + 1));
    }
    startWave(m_current + 1);
    return true;
}

void WaveRun::abandon()
{
    if (m_state == State::Halted)
        m_state = State::Idle;
    m_halt.reset();
}

void WaveRun::stop()
{
    m_state = State::Idle;
    m_halt.reset();
}

void WaveRun::end(WaveEnd end)
{
    m_state = State::Idle;
    end.notReady = m_notReady;
    emit ended(end);
}

void WaveRun::startWave(int index)
{
    m_current = index;
    m_state = State::Running;
    const std::vector<int> &rows = m_waves[size_t(index)];
    for (int row : rows) {
        m_rows->value(row, Field::Wave, QString::number(index + 1));
        m_rows->status(row, StatusOutcome::Neutral, waveText(index + 1));
    }
    emit waveStarted(index + 1, int(rows.size()));
    if (!m_steps.wave(rows)) {
        WaveEnd stopped;
        stopped.waves = index;
        stopped.cancelled = true;
        end(stopped);
    }
}

void WaveRun::onBatchFinished(const BatchSummary &summary)
{
    if (!busy())
        return;
    WaveEnd stopped;
    stopped.waves = std::max(0, m_current);
    if (summary.cancelled) {
        stopped.cancelled = true;
        end(stopped);
        return;
    }
    if (!m_rows->current()) {
        stopped.rowsGone = true;
        end(stopped);
        return;
    }

    if (m_state == State::Checking) {
        std::vector<int> ready;
        for (int row : m_all) {
            if (m_steps.endedWell(row))
                ready.push_back(row);
        }
        // A device that failed its check keeps the check's text and stays out of every wave.
        m_notReady = int(m_all.size() - ready.size());
        m_waves = WavePlan::split(ready, m_settings);
        if (m_waves.empty()) {
            end(stopped);
            return;
        }
        startWave(0);
        return;
    }

    const std::vector<int> &wave = m_waves[size_t(m_current)];
    int failed = 0;
    for (int row : wave) {
        if (!m_steps.endedWell(row))
            ++failed;
    }
    const int size = int(wave.size());
    if (WavePlan::halts(size, failed, m_settings)) {
        WaveHalt halt;
        halt.wave = m_current + 1;
        halt.size = size;
        halt.failed = failed;
        halt.haltAt = WavePlan::haltAt(size, m_settings);
        for (size_t later = size_t(m_current) + 1; later < m_waves.size(); ++later) {
            for (int row : m_waves[later]) {
                m_rows->value(row, Field::Wave, QString::number(later + 1));
                m_rows->status(row, StatusOutcome::Halted, haltedText(halt.wave));
                ++halt.notStarted;
            }
        }
        m_state = State::Halted;
        m_halt = halt;
        emit halted(halt);
        return;
    }
    if (size_t(m_current) + 1 < m_waves.size()) {
        startWave(m_current + 1);
        return;
    }
    stopped.waves = m_current + 1;
    end(stopped);
}
