#pragma once

#include "recorduploader.h"

#include <QPointer>

#include <functional>

class QProgressBar;
class QWidget;

/// Shows a record upload in a tab: the progress bar follows every record and each message becomes
/// the application's message box. Called from the upload's thread, it hands each step to the GUI
/// thread in order; called on the GUI thread, it shows the step at once.
class UploadBoxObserver : public UploadObserver
{
public:
    UploadBoxObserver(QWidget *parent, QProgressBar *progressBar);
    void progress(int done, int total) override;
    void message(const QString &title, const QString &text) override;

private:
    void onGuiThread(std::function<void()> show);

    QPointer<QWidget> m_parent;
    QPointer<QProgressBar> m_bar;
};
