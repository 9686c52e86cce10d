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

void LoginRunner::run(const DEV_INFO &record, Job job, Done done)
{
    auto result = std::make_shared<Result>();
    result->record = record;
    QThread *thread = QThread::create([result, job = std::move(job)] { job(*result); });
    m_jobs.push_back(Entry{thread, result, false});
    auto it = std::prev(m_jobs.end());
    connect(thread, &QThread::finished, this, [this, it, done = std::move(done)] {
        it->delivered = true;
        QThread *t = it->thread;
        auto res = it->result;
        m_jobs.erase(it);
        t->deleteLater();
        done(*res);
    });
    thread->start();
}
