#pragma once

#include "device/devicesession.h"
#include "netsdk/netsdk.h"

#include <QObject>
#include <QString>

#include <functional>
#include <list>
#include <memory>

class QThreadPool;

/// Runs SDK logins off the GUI thread so that a slow or absent device never freezes the window.
/// The job runs on the runner's small thread pool (no thread per login) with its own copy of the
/// record; `done` runs afterwards on the runner's thread and may take the result's session over. A
/// job whose requester goes away is abandoned, not waited for: its `done` never runs and its session
/// ends when the job does. The destructor waits for running jobs and ends every session nobody took,
/// so the runner belongs to something that lives longer than a dialog (the tab).
class LoginRunner : public QObject
{
    Q_OBJECT
public:
    struct Result {
        DEV_INFO record;
        DeviceSession session; ///< the login the job made, until `done` takes it
        int error = 0;
        QString text; ///< free for the job's outcome text
    };
    using Job = std::function<void(Result &)>;
    using Done = std::function<void(Result &)>;

    explicit LoginRunner(QObject *parent = nullptr);
    ~LoginRunner() override;

    /// Starts a job; the returned id (never 0) names it for abandon().
    quint64 run(const DEV_INFO &record, Job job, Done done);
    bool busy() const { return !m_jobs.empty(); }
    /// True while the job runs and has not been abandoned.
    bool running(quint64 id) const;
    /// Forgets a running job without waiting for it: its `done` will not run, and a login it makes
    /// is logged out as soon as it ends. Unknown or finished ids are ignored.
    void abandon(quint64 id);
    /// abandon() for every running job.
    void abandonAll();

    /// The plain login of a record: the session, or the error code.
    static void login(Result &result);

private:
    struct Entry {
        quint64 id = 0;
        std::shared_ptr<Result> result;
        Done done;
        bool abandoned = false;
    };
    void deliver(quint64 id);

    std::list<Entry> m_jobs; ///< started and not yet delivered
    quint64 m_nextId = 1;
    std::unique_ptr<QThreadPool> m_pool;
};
