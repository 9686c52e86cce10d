#include "upgradefiledialog.h"

#include <QFileDialog>
#include <QMutex>

namespace
{
struct Hooks {
    QMutex lock;
    QStringList answers;
    UpgradeFileDialog::Call last;
};
Hooks &hooks()
{
    static Hooks h;
    return h;
}
} // namespace

QString UpgradeFileDialog::getOpenFileName(QWidget *parent, const QString &caption, const QString &dir,
                                           const QString &filter)
{
    {
        Hooks &h = hooks();
        QMutexLocker locker(&h.lock);
        h.last = Call{caption, dir, filter};
        if (!h.answers.isEmpty())
            return h.answers.takeFirst();
    }
    return QFileDialog::getOpenFileName(parent, caption, dir, filter);
}

void UpgradeFileDialog::setNextAnswer(const QString &path)
{
    Hooks &h = hooks();
    QMutexLocker locker(&h.lock);
    h.answers.append(path);
}

UpgradeFileDialog::Call UpgradeFileDialog::lastCall()
{
    Hooks &h = hooks();
    QMutexLocker locker(&h.lock);
    return h.last;
}

void UpgradeFileDialog::resetTestHooks()
{
    Hooks &h = hooks();
    QMutexLocker locker(&h.lock);
    h.answers.clear();
    h.last = Call();
}
