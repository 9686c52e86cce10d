#pragma once

#include "device/devicebatch.h"
#include "recorduploader.h"

#include <QObject>
#include <QPointer>

#include <memory>

class QAbstractButton;
class QProgressBar;
class QWidget;
class UploadBoxObserver;

/// A tab's factory-record upload, off the GUI thread: the upload runs as a job of its own batch, the
/// tab's progress bar and message boxes follow it through UploadBoxObserver, and the upload button
/// stays disabled until it has ended. Destroying the run cancels an upload under way and waits for
/// it: the request under way stops within HttpsClient::kCancelPollMs and no record is moved.
class RecordUploadRun : public QObject
{
    Q_OBJECT
public:
    RecordUploadRun(DeviceRows &rows, QWidget *tab, QProgressBar *bar, QAbstractButton *button);
    ~RecordUploadRun() override;

    /// Starts an upload with `params` (copied); false while one is under way.
    bool start(const UploadParams &params);
    bool isActive() const { return m_batch->isActive(); }

signals:
    /// The upload has ended and its boxes are queued; `outcome` as the uploader returned it.
    void finished(const UploadOutcome &outcome);

private:
    std::unique_ptr<UploadBoxObserver> m_observer;
    QPointer<QAbstractButton> m_button;
    std::shared_ptr<UploadOutcome> m_outcome;
    DeviceBatch::Ptr m_batch;
};

Q_DECLARE_METATYPE(UploadOutcome)
