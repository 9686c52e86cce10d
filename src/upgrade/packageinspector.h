#pragma once

#include "upgrade/upgradepackage.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>
#include <thread>

/// Inspects one package at a time off the GUI thread: reading and hashing a package of some tens of
/// MiB takes long enough to freeze the window. The result comes back on the inspector's own thread.
///
/// Threads: start(), isRunning() and cancelAndWait() on the owner's thread only. The destructor
/// cancels and joins the inspection, so no result is ever delivered to a gone owner.
class PackageInspector : public QObject
{
    Q_OBJECT
public:
    using Done = std::function<void(const UpgradePackage::Inspection &)>;

    explicit PackageInspector(QObject *parent = nullptr);
    ~PackageInspector() override;

    /// Starts inspecting `packagePath`; `done` runs on this object's thread once it is over (not after
    /// cancelAndWait). False (nothing started) while an inspection is still running.
    bool start(const QString &packagePath, Done done, const UpgradePackage::Limits &limits = {});
    /// True from start() until `done` has returned (or the inspection was cancelled).
    bool isRunning() const { return m_running; }
    /// Stops the inspection under way, if any, and waits for its thread; its `done` never runs.
    void cancelAndWait();

private:
    void join();

    std::thread m_thread;
    std::shared_ptr<std::atomic<bool>> m_cancel;
    bool m_running = false;
};
