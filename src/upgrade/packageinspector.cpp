#include "upgrade/packageinspector.h"

#include <QMetaObject>

PackageInspector::PackageInspector(QObject *parent) : QObject(parent) {}

PackageInspector::~PackageInspector()
{
    cancelAndWait();
}

bool PackageInspector::start(const QString &packagePath, Done done, const UpgradePackage::Limits &limits)
{
    if (m_running)
        return false;
    join(); // the thread of the last inspection has delivered its result and is ending
    auto cancel = std::make_shared<std::atomic<bool>>(false);
    m_cancel = cancel;
    m_running = true;
    m_thread = std::thread([this, packagePath, limits, cancel, done = std::move(done)]() mutable {
        const UpgradePackage::Inspection result = UpgradePackage::inspect(packagePath, limits, cancel.get());
        // Queued to this object: the owner's thread runs `done`; a cancelled inspection reports nothing.
        QMetaObject::invokeMethod(
            this,
            [this, result, cancel, done = std::move(done)] {
                if (cancel->load())
                    return;
                m_running = false;
                done(result);
            },
            Qt::QueuedConnection);
    });
    return true;
}

void PackageInspector::cancelAndWait()
{
    if (m_cancel)
        m_cancel->store(true);
    join();
    m_running = false;
}

void PackageInspector::join()
{
    if (m_thread.joinable())
        m_thread.join();
}
