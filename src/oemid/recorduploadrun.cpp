#include "recorduploadrun.h"

#include "uploadboxobserver.h"

#include <QAbstractButton>

RecordUploadRun::RecordUploadRun(DeviceRows &rows, QWidget *tab, QProgressBar *bar, QAbstractButton *button)
    : QObject(tab), m_observer(std::make_unique<UploadBoxObserver>(tab, bar)), m_button(button),
      m_outcome(std::make_shared<UploadOutcome>()), m_batch(DeviceBatch::create(rows))
{
    qRegisterMetaType<UploadOutcome>();
    connect(m_batch.get(), &DeviceBatch::finished, this, [this] {
        if (m_button)
            m_button->setEnabled(true);
        emit finished(*m_outcome);
    });
}

RecordUploadRun::~RecordUploadRun()
{
    m_batch.reset(); // waits for the upload before the observer goes
}

bool RecordUploadRun::start(const UploadParams &params)
{
    if (m_batch->isActive())
        return false;
    BatchPlan plan;
    plan.rows = {-1}; // the upload belongs to no row
    UploadBoxObserver *observer = m_observer.get();
    std::shared_ptr<UploadOutcome> outcome = m_outcome;
    plan.job = [params, observer, outcome](BatchContext &ctx) {
        // Closing the tab cancels the batch: the request under way ends at once and every record
        // stays where it was.
        UploadParams run = params;
        run.cancelled = [&ctx] { return ctx.cancelled(); };
        *outcome = RecordUploader(run).uploadRecords(observer);
    };
    if (!m_batch->start(std::move(plan)))
        return false;
    if (m_button)
        m_button->setEnabled(false);
    return true;
}
