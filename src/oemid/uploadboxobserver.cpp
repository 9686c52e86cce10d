#include "uploadboxobserver.h"

#include "app/cmessagebox.h"

#include <QProgressBar>

UploadBoxObserver::UploadBoxObserver(QWidget *parent, QProgressBar *progressBar)
    : m_parent(parent), m_bar(progressBar)
{
}

void UploadBoxObserver::progress(int done, int total)
{
    if (!m_bar)
        return;
    m_bar->setOrientation(Qt::Horizontal);
    m_bar->setRange(0, total);
    m_bar->setValue(done);
    // The upload holds the GUI thread; paint now so the bar moves with every record.
    m_bar->repaint();
}

void UploadBoxObserver::message(const QString &title, const QString &text)
{
    CMessageBox::information(m_parent, title, text);
}
