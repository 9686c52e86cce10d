#pragma once

#include "oemidwriter.h"

#include "settings/devicesettings.h"

#include <QObject>
#include <QString>

#include <functional>
#include <vector>

class DeviceBatch;
struct BatchSummary;

/// What one OEMID run does to every device, taken from the form or the command line when the run
/// starts.
struct OemidRunOptions {
    bool setOemid = false;    ///< write the assigned OEMID
    bool allowRepeat = false; ///< also write a device that already carries an OEMID
    bool modifyIp = false;    ///< change each device's address first ([UpgradeInfo] ModifyIP)
    SettingsChoice settings;  ///< the clock, zone, language and codec settings to push afterwards
    QString assignedOemid;    ///< [OEMID] Assigned
    QString dataDir;          ///< holds the factory-record tree the writer files records into
    /// A message for the operator (a day file that cannot be opened); called on the batch's worker.
    std::function<void(const QString &title, const QString &text)> message;
};

/// The OEMID tab's run, free of widgets: the listed rows one at a time in table order, after a
/// one-second pause, each through OemidTabSteps on the batch's worker. Every result goes into the
/// rows' cells; finished() follows the batch's own.
class OemidRunController : public QObject
{
    Q_OBJECT
public:
    /// `changeIp(generation, row)` changes the address (type 1) of the row of the rows of `generation`
    /// and returns as IpChange::modifyIP does; the row's session is ended before it is called.
    using ChangeIp = std::function<int(quint64 generation, int row)>;
    OemidRunController(DeviceBatch &batch, ChangeIp changeIp, QObject *parent = nullptr);

    /// Starts the run over `rows`. False when it did not start: `problem` then says why the options
    /// were refused, or stays empty when the batch would not start (one is already running).
    bool start(const OemidRunOptions &options, const std::vector<int> &rows, QString *problem);

signals:
    void finished(const BatchSummary &summary);

private:
    DeviceBatch &m_batch;
    ChangeIp m_changeIp;
};
