#include "fileopendialog.h"

#include <QFileDialog>
#include <QMutex>

namespace
{
struct Hooks {
    QMutex lock;
    QStringList answers;
    FileOpenDialog::Call last;
};
Hooks &hooks()
{
    static Hooks h;
    return h;
}
} // namespace

QString FileOpenDialog::getOpenFileName(QWidget *parent, const QString &caption, const QString &dir,
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

void FileOpenDialog::setNextAnswer(const QString &path)
{
    Hooks &h = hooks();
    QMutexLocker locker(&h.lock);
    h.answers.append(path);
}

FileOpenDialog::Call FileOpenDialog::lastCall()
{
    Hooks &h = hooks();
    QMutexLocker locker(&h.lock);
    return h.last;
}

void FileOpenDialog::resetTestHooks()
{
    Hooks &h = hooks();
    QMutexLocker locker(&h.lock);
    h.answers.clear();
    h.last = Call();
}
