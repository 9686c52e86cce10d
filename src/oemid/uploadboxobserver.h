#pragma once

#include "recorduploader.h"

#include <QPointer>

class QProgressBar;
class QWidget;

/// Shows a record upload in a tab: the progress bar follows every record and each message becomes
/// the application's message box.
class UploadBoxObserver : public UploadObserver
{
public:
    UploadBoxObserver(QWidget *parent, QProgressBar *progressBar);
    void progress(int done, int total) override;
    void message(const QString &title, const QString &text) override;

private:
    QPointer<QWidget> m_parent;
    QPointer<QProgressBar> m_bar;
};
