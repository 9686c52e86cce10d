#include "device/loginrunner.h"

#include <QThread>

LoginRunner::LoginRunner(QObject *parent) : QObject(parent) {}

LoginRunner::~LoginRunner()
{
    for (Entry &entry : m_jobs) {
        entry.thread->wait();
        if (!entry.delivered && entry.result->record.lLoginID > 0)
            H264_DVR_Logout(entry.result->record.lLoginID);
        delete entry.thread;
    }
}

void LoginRunner::login(Result &result)
{
    DEV_INFO &rec = result.record;
    int error = 0;
    const long handle = H264_DVR_Login(rec.szIpaddress, uint16_t(rec.nPort), rec.szUserName, rec.szPsw,
                                       &rec.NetDevInfo, 1, &error);
    rec.lLoginID = int32_t(handle);
    result.error = handle > 0 ? 0 : error;
}

quint64 LoginRunner::run(const DEV_INFO &record, Job job, Done done)
{
    auto result = std::make_shared<Result>();
    result->record = record;
    QThread *thread = QThread::create([result, job = std::move(job)] { job(*result); });
    const quint64 id = m_nextId++;
    m_jobs.push_back(Entry{id, thread, result, false, false});
    auto it = std::prev(m_jobs.end());
    connect(thread, &QThread::finished, this, [this, it, done = std::move(done)] {
        it->delivered = true;
        QThread *t = it->thread;
        auto res = it->result;
        const bool abandoned = it->abandoned;
        m_jobs.erase(it);
        t->deleteLater();
        if (!abandoned) {
            done(*res);
        } else if (res->record.lLoginID > 0) {
            // Nobody is left to take this login over.
            H264_DVR_Logout(res->record.lLoginID);
        }
    });
    thread->start();
    return id;
}

bool LoginRunner::running(quint64 id) const
{
    for (const Entry &entry : m_jobs) {
        if (entry.id == id)
            return !entry.abandoned;
    }
    return false;
}

void LoginRunner::abandon(quint64 id)
{
    for (Entry &entry : m_jobs) {
        if (entry.id == id)
            entry.abandoned = true;
    }
}
