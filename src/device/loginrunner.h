#pragma once

#include "netsdk/netsdk.h"

#include <QObject>
#include <QString>

#include <functional>
#include <list>
#include <memory>

class QThread;

/// Runs SDK logins off the GUI thread so that a slow or absent device never freezes the window.
/// The job runs on a worker thread with its own copy of the record; `done` runs afterwards on the
/// runner's thread and takes over the login in the record. The destructor waits for running jobs and
/// logs out any login whose `done` never ran.
class LoginRunner : public QObject
{
    Q_OBJECT
public:
    struct Result {
        DEV_INFO record;
        int error = 0;
        QString text; ///< free for the job's outcome text
    };
    using Job = std::function<void(Result &)>;
    using Done = std::function<void(Result &)>;

    explicit LoginRunner(QObject *parent = nullptr);
    ~LoginRunner() override;

    void run(const DEV_INFO &record, Job job, Done done);
    bool busy() const { return !m_jobs.empty(); }

    /// The plain login of a record: handle into lLoginID, error code out.
    static void login(Result &result);

private:
    struct Entry {
        QThread *thread = nullptr;
        std::shared_ptr<Result> result;
        bool delivered = false;
    };
    std::list<Entry> m_jobs;
};
