#include "uploadboxobserver.h"

#include "app/cmessagebox.h"

#include <QProgressBar>
#include <QThread>

UploadBoxObserver::UploadBoxObserver(QWidget *parent, QProgressBar *progressBar)
    : m_parent(parent), m_bar(progressBar)
{
}

void UploadBoxObserver::onGuiThread(std::function<void()> show)
{
    QObject *context = m_parent ? static_cast<QObject *>(m_parent.data()) : m_bar.data();
    if (!context)
        return;
    if (QThread::currentThread() == context->thread()) {
        show();
        return;
    }
    // Queued, never blocking: the upload goes on while the window paints, and a tab that closes
    // waits for the upload without the upload waiting for it.
    QMetaObject::invokeMethod(context, std::move(show), Qt::QueuedConnection);
}

void UploadBoxObserver::progress(int done, int total)
{
    onGuiThread([bar = m_bar, done, total] {
        if (!bar)
            return;
        bar->setOrientation(Qt::Horizontal);
        bar->setRange(0, total);
        bar->setValue(done);
    });
}

void UploadBoxObserver::message(const QString &title, const QString &text)
{
    onGuiThread([parent = m_parent, title, text] { CMessageBox::information(parent, title, text); });
}
