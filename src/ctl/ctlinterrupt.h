#pragma once

#include <QObject>

class QSocketNotifier;

/// Ctrl+C (SIGINT) and SIGTERM for a command: the handler only writes a byte into a pipe (all it may
/// do inside a signal handler); the byte wakes the event loop, which emits interrupted() with the
/// count so far. The first asks the run to stop as closing the window does; a second one stops the
/// transfers still running. One watcher per process.
class CtlInterrupt : public QObject
{
    Q_OBJECT
public:
    explicit CtlInterrupt(QObject *parent = nullptr);
    ~CtlInterrupt() override;
    int count() const { return m_count; }
    /// Signals caught so far, for code that polls instead of waiting in an event loop (any thread).
    static int raised();

signals:
    void interrupted(int count);

private:
    QSocketNotifier *m_notifier = nullptr;
    int m_count = 0;
};
