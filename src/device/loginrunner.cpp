#include "device/loginrunner.h"

#include <QThreadPool>

#include <algorithm>

namespace
{
// Logins at once: the Add dialog and row clicks of one tab; more wait their turn.
constexpr int kMaxLogins = 4;
} // namespace

LoginRunner::LoginRunner(QObject *parent) : QObject(parent), m_pool(std::make_unique<QThreadPool>())
{
    m_pool->setMaxThreadCount(kMaxLogins);
}

LoginRunner::~LoginRunner()
{
    // The jobs hold this runner for their hand-over; once they are done the queued deliveries go
    // with the object, and the sessions nobody took over end with their entries.
    m_pool->waitForDone();
    m_jobs.clear();
}

void LoginRunner::login(Result &result)
{
    DEV_INFO &rec = result.record;
    int error = 0;
    const long handle = H264_DVR_Login(rec.szIpaddress, uint16_t(rec.nPort), rec.szUserName, rec.szPsw,
                                       &rec.NetDevInfo, 1, &error);
    result.session = DeviceSession(handle);
    result.error = handle > 0 ? 0 : error;
}

quint64 LoginRunner::run(const DEV_INFO &record, Job job, Done done)
{
    auto result = std::make_shared<Result>();
    result->record = record;
    const quint64 id = m_nextId++;
    m_jobs.push_back(Entry{id, result, std::move(done), false});
    m_pool->start([this, id, result, job = std::move(job)] {
        job(*result);
        QMetaObject::invokeMethod(
            this, [this, id] { deliver(id); }, Qt::QueuedConnection);
    });
    return id;
}

void LoginRunner::deliver(quint64 id)
{
    const auto it = std::find_if(m_jobs.begin(), m_jobs.end(), [id](const Entry &e) { return e.id == id; });
    if (it == m_jobs.end())
        return;
    const Entry entry = std::move(*it);
    m_jobs.erase(it);
    // An abandoned job's session, or one `done` left, ends with the entry.
    if (!entry.abandoned)
        entry.done(*entry.result);
}

bool LoginRunner::running(quint64 id) const
{
    for (const Entry &entry : m_jobs) {
        if (entry.id == id)
            return !entry.abandoned;
    }
    return false;
}

void LoginRunner::abandonAll()
{
    for (Entry &entry : m_jobs)
        entry.abandoned = true;
}

void LoginRunner::abandon(quint64 id)
{
    for (Entry &entry : m_jobs) {
        if (entry.id == id)
            entry.abandoned = true;
    }
}
