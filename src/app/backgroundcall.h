#pragma once

#include <QMetaObject>
#include <QObject>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

/// Runs one piece of work at a time off the owner's thread (a decode, a file read) and hands its
/// result back on the owner's thread, so that a click never freezes the window.
///
/// Threads: start(), isRunning() and cancelAndWait() on the owner's thread only. The destructor
/// cancels and joins, so a result is never delivered to a gone owner; work already running is not
/// interrupted (it ends, and its result is dropped).
class BackgroundCall : public QObject
{
public:
    explicit BackgroundCall(QObject *parent = nullptr) : QObject(parent) {}
    ~BackgroundCall() override { cancelAndWait(); }
    BackgroundCall(const BackgroundCall &) = delete;
    BackgroundCall &operator=(const BackgroundCall &) = delete;

    /// Runs `work` on a thread of its own, then `done` with its result on this object's thread (not
    /// after cancelAndWait). False (nothing started) while an earlier call is still running.
    template <typename Result>
    bool start(std::function<Result()> work, std::function<void(const Result &)> done)
    {
        if (m_running)
            return false;
        join(); // the last call's thread has delivered its result and is ending
        auto cancel = std::make_shared<std::atomic<bool>>(false);
        m_cancel = cancel;
        m_running = true;
        m_thread = std::thread([this, cancel, work = std::move(work), done = std::move(done)]() mutable {
            Result result = work();
            QMetaObject::invokeMethod(
                this,
                [this, cancel, result = std::move(result), done = std::move(done)] {
                    if (cancel->load())
                        return;
                    m_running = false;
                    done(result);
                },
                Qt::QueuedConnection);
        });
        return true;
    }

    /// True from start() until `done` has returned (or the call was cancelled).
    bool isRunning() const { return m_running; }
    /// Drops the result of the call under way, if any, and waits for its thread.
    void cancelAndWait()
    {
        if (m_cancel)
            m_cancel->store(true);
        join();
        m_running = false;
    }

private:
    void join()
    {
        if (m_thread.joinable())
            m_thread.join();
    }

    std::thread m_thread;
    std::shared_ptr<std::atomic<bool>> m_cancel;
    bool m_running = false;
};
