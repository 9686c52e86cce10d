#pragma once

#include "device/devicerows.h"
#include "device/statusoutcome.h"
#include "device/tablevariant.h"

#include <QAbstractTableModel>
#include <QDateTime>
#include <QHash>
#include <QMutex>

#include <array>
#include <utility>
#include <vector>

class DeviceHistory;

/// The eight columns of a tab's device rows as the view shows them, and the texts jobs write into
/// them; the records themselves live in the tab's DeviceStore. Qt Core only.
///
/// Rows are added and removed on the GUI thread only. The cell writers may be called from any
/// thread: off the GUI thread the text is parked under the model's lock and applied by one queued
/// flush, so a burst of progress texts for one cell costs one model write (the newest text wins) and
/// there is never more than one flush waiting in the event loop. Every status and OEMID text also
/// reaches the devices' history, a parked one included even when a newer one replaced it before it
/// was shown.
class DeviceTableModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    /// `history` must outlive the model; the model feeds it on the GUI thread.
    DeviceTableModel(const TableVariant &variant, DeviceHistory &history, QObject *parent = nullptr);
    ~DeviceTableModel() override;

    int rowCount(const QModelIndex &parent = {}) const override;
    int columnCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    /// Only the tick box of column 0, where the tab has one.
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // GUI thread only.
    /// Re-applies the translated header texts.
    void retranslate();
    /// Adds a row showing `cells`, its tick box (if any) clear.
    void appendRow(const std::array<QVariant, 8> &cells);
    /// Removes every row and drops texts still pending for them; from now on events of `generation`
    /// are the current rows', and those of the rows removed go to their devices' history only.
    void clear(quint64 generation);
    bool isChecked(int row) const;
    void setChecked(int row, bool checked);
    QList<int> checkedRows() const;
    /// The cell's text as shown.
    QString text(int row, int column) const;
    /// Applies the texts written from other threads now (the queued flush does it otherwise).
    void flushPending();

    // Any thread.
    /// An event of the rows of `event.generation`; one of earlier rows goes to the history only.
    void show(const RowEvent &event);
    /// A text for the current rows, with its outcome when it is a report.
    void write(int row, int column, const QString &text, bool isReport, StatusOutcome outcome);

private:
    static quint64 cellKey(int row, int column) { return (quint64(quint32(row)) << 32) | quint32(column); }
    /// Any thread. Dropped when `generation` is given and is neither the current one nor one of the
    /// last few cleared.
    void write(int row, int column, const QString &text, StatusOutcome outcome, const quint64 *generation);
    /// GUI thread: the cell's new text; `keep` also notes it in the history.
    void writeCell(int row, int column, const QString &text, StatusOutcome outcome, bool keep);
    struct ParkedText;
    /// Whether texts of `column` go into the history (status and OEMID); any thread.
    bool keepsHistory(int column) const;
    /// Under the lock: a worker's text for the history, kept even when a newer one replaces it
    /// before the cell is written.
    void parkHistory(ParkedText &&parked);
    /// Under the lock: the device that `row` of the cleared rows `generation` showed; empty when
    /// those rows are too old to remember.
    QString retiredKey(quint64 generation, int row) const;
    /// Under the lock: true when the caller is to post the flush (after unlocking: postFlush()).
    bool claimFlush();
    void postFlush();

    struct Row {
        std::array<QVariant, 8> cells;
        bool checked = false;
    };
    struct ParkedText {
        int row;
        int column;
        QString text;
        StatusOutcome outcome;
        QDateTime when;
        QString key; ///< a device of cleared rows; empty: the row's current one
    };

    const TableVariant *m_variant;
    DeviceHistory *m_history; ///< GUI thread only
    std::vector<Row> m_rows;  ///< GUI thread only

    mutable QMutex m_lock; ///< what follows
    QHash<quint64, QString> m_pending;
    std::vector<ParkedText> m_parkedHistory; ///< bounded between two flushes
    bool m_flushQueued = false;
    quint64 m_generation = 0; ///< the generation of the rows shown
    /// The devices of the last few cleared lists, by generation: a job still running on them when
    /// they went reports its real result into their history and the run log.
    std::vector<std::pair<quint64, std::vector<QString>>> m_retiredKeys;
};
