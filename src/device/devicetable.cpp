#include "device/devicetable.h"

#include "device/devicerecord.h"
#include "device/runlog.h"
#include "device/statusoutcome.h"

#include <QCoreApplication>
#include <QMutexLocker>
#include <QStandardItemModel>
#include <QThread>

#include <algorithm>

DeviceTable::DeviceTable(TabKind kind, QObject *parent)
    : QObject(parent), m_variant(&tableVariant(kind)), m_model(new QStandardItemModel(0, 8, this)),
      m_store(*m_variant), m_history(*m_variant)
{
    m_store.setListener([this](const RowEvent &event) { show(event); });
    retranslate();
}

DeviceTable::~DeviceTable() = default;

void DeviceTable::setRunLog(std::unique_ptr<RunLog> log)
{
    m_history.setRunLog(std::move(log));
}

QString DeviceTable::deviceKey(int row) const
{
    return m_history.key(row);
}

QList<HistoryEntry> DeviceTable::history(int row) const
{
    return m_history.entries(row);
}

QString DeviceTable::statusText(int row) const
{
    const QStandardItem *item = m_model->item(row, m_variant->statusColumn);
    return item ? item->text() : QString();
}

QDateTime DeviceTable::lastStatusTime(int row) const
{
    return m_history.lastStatusTime(row);
}

StatusOutcome DeviceTable::statusOutcome(int row) const
{
    return m_store.statusOutcome(row);
}

QList<int> DeviceTable::failedRows() const
{
    return m_store.failedRows();
}

void DeviceTable::runStarted(quint64 generation, const std::vector<int> &rows)
{
    m_store.runStarted(generation, rows);
}

QString DeviceTable::retiredKey(quint64 generation, int row) const
{
    for (const auto &retired : m_retiredKeys) {
        if (retired.first == generation)
            return row >= 0 && row < int(retired.second.size()) ? retired.second[size_t(row)] : QString();
    }
    return {};
}

void DeviceTable::queueFlush()
{
    if (!m_flushQueued) {
        m_flushQueued = true;
        QMetaObject::invokeMethod(this, &DeviceTable::flushPending, Qt::QueuedConnection);
    }
}

void DeviceTable::parkHistory(int row, int column, const QString &text, StatusOutcome outcome,
                              const QString &key)
{
    const Field field = m_variant->columns[size_t(column)].field;
    if (field != Field::Status && field != Field::Oemid)
        return;
    // Bounded even if the GUI thread falls behind: the history keeps only the newest per device.
    constexpr size_t maxParked = size_t(MaxHistoryPerDevice) * 64;
    if (m_parkedHistory.size() >= maxParked)
        m_parkedHistory.erase(m_parkedHistory.begin(), m_parkedHistory.begin() + maxParked / 2);
    m_parkedHistory.push_back(ParkedText{row, column, text, outcome, QDateTime::currentDateTime(), key});
}

void DeviceTable::retranslate()
{
    for (int c = 0; c < 8; ++c) {
        m_model->setHeaderData(c, Qt::Horizontal,
                               QCoreApplication::translate("DeviceTable", m_variant->columns[c].header));
    }
}

int DeviceTable::appendRow(const RowFill &fill, DeviceSession session)
{
    QList<QStandardItem *> items;
    for (int c = 0; c < 8; ++c) {
        auto *item = new QStandardItem;
        if (fill.cells[c].isValid())
            item->setData(fill.cells[c], Qt::DisplayRole);
        items.append(item);
    }
    if (m_variant->checkable) {
        items[0]->setCheckable(true);
        items[0]->setCheckState(Qt::Unchecked);
    }
    const int row = m_store.appendRow(fill.record, std::move(session));
    m_model->appendRow(items);
    const std::string mac = DeviceRecord::fixedText(fill.record.NetComm.sMac);
    m_history.addRow(
        !mac.empty() ? QString::fromLatin1(mac.c_str())
                     : QStringLiteral("%1:%2")
                           .arg(QString::fromLatin1(DeviceRecord::fixedText(fill.record.szIpaddress).c_str()))
                           .arg(fill.record.nPort));
    for (int c = 0; c < 8; ++c) {
        if (fill.cells[size_t(c)].isValid() && !fill.cells[size_t(c)].toString().isEmpty())
            m_history.record(row, c, fill.cells[size_t(c)].toString(), StatusOutcome::Neutral,
                             QDateTime::currentDateTime());
    }
    return row;
}

void DeviceTable::clear()
{
    const quint64 generation = m_store.clear();
    {
        QMutexLocker locker(&m_lock);
        m_pending.clear();
        // Texts that reached the old rows stay theirs: they go to the history as their devices'.
        for (ParkedText &p : m_parkedHistory) {
            if (p.key.isEmpty())
                p.key = m_history.key(p.row);
        }
        constexpr size_t keptLists = 4;
        if (m_retiredKeys.size() >= keptLists)
            m_retiredKeys.erase(m_retiredKeys.begin());
        m_retiredKeys.emplace_back(m_generation, m_history.rowKeys());
        m_generation = generation;
    }
    m_model->removeRows(0, m_model->rowCount());
    m_history.clearRows();
}

bool DeviceTable::isChecked(int row) const
{
    const QStandardItem *item = m_model->item(row, 0);
    return item && item->checkState() == Qt::Checked;
}

void DeviceTable::setChecked(int row, bool checked)
{
    if (QStandardItem *item = m_model->item(row, 0); item && item->isCheckable())
        item->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
}

QList<int> DeviceTable::checkedRows() const
{
    QList<int> rows;
    for (int r = 0; r < m_model->rowCount(); ++r) {
        if (isChecked(r))
            rows.append(r);
    }
    return rows;
}

int DeviceTable::rowCount() const
{
    return m_store.rowCount();
}

quint64 DeviceTable::generation() const
{
    return m_store.generation();
}

void DeviceTable::writeCell(int row, int column, const QString &text, StatusOutcome outcome, bool keep)
{
    if (row < 0 || row >= m_model->rowCount() || column < 0 || column >= 8)
        return;
    QStandardItem *item = m_model->item(row, column);
    if (!item) {
        item = new QStandardItem;
        m_model->setItem(row, column, item);
    }
    item->setData(text, Qt::EditRole);
    if (keep)
        m_history.record(row, column, text, outcome, QDateTime::currentDateTime());
}

void DeviceTable::write(const Write &w, const quint64 *generation)
{
    if (generation) {
        QMutexLocker locker(&m_lock);
        if (*generation != m_generation) {
            // A job still running on rows a new search replaced: its device's history and the run
            // log learn its result, the new rows do not.
            const QString key = retiredKey(*generation, w.row);
            if (!key.isEmpty() && w.column >= 0 && w.column < 8) {
                parkHistory(w.row, w.column, w.text, w.outcome, key);
                queueFlush();
            }
            return;
        }
    }
    if (QThread::currentThread() == thread()) {
        std::vector<ParkedText> parked;
        {
            QMutexLocker locker(&m_lock);
            if (generation && *generation != m_generation)
                return;
            // A text parked earlier by a worker is older than this one.
            m_pending.remove(cellKey(w.row, w.column));
            parked.swap(m_parkedHistory);
        }
        for (const ParkedText &p : parked)
            m_history.record(p.row, p.column, p.text, p.outcome, p.when, p.key);
        writeCell(w.row, w.column, w.text, w.outcome, true);
        return;
    }
    QMutexLocker locker(&m_lock);
    if (generation && *generation != m_generation)
        return;
    m_pending.insert(cellKey(w.row, w.column), w.text);
    if (w.column >= 0 && w.column < 8)
        parkHistory(w.row, w.column, w.text, w.outcome);
    queueFlush();
}

void DeviceTable::setCellText(int row, int column, StatusOutcome outcome, const QString &text)
{
    m_store.noteReport(row, outcome);
    write(Write{row, column, text, true, outcome}, nullptr);
}

void DeviceTable::setCellValue(int row, int column, const QString &text)
{
    write(Write{row, column, text, false, StatusOutcome::Neutral}, nullptr);
}

void DeviceTable::flushPending()
{
    QHash<quint64, QString> pending;
    std::vector<ParkedText> parked;
    {
        QMutexLocker locker(&m_lock);
        pending.swap(m_pending);
        parked.swap(m_parkedHistory);
        m_flushQueued = false;
    }
    for (auto it = pending.cbegin(); it != pending.cend(); ++it)
        writeCell(int(it.key() >> 32), int(it.key() & 0xffffffffu), it.value(), StatusOutcome::Neutral,
                  false);
    for (const ParkedText &p : parked)
        m_history.record(p.row, p.column, p.text, p.outcome, p.when, p.key);
}

bool DeviceTable::copyRowDevice(int row, DEV_INFO *out) const
{
    return m_store.device(m_store.generation(), row, out);
}

std::optional<DEV_INFO> DeviceTable::rowDevice(int row) const
{
    DEV_INFO rec;
    if (!copyRowDevice(row, &rec))
        return std::nullopt;
    return rec;
}

bool DeviceTable::updateRowDevice(int row, const std::function<void(DEV_INFO &)> &change)
{
    return m_store.updateDevice(m_store.generation(), row, change);
}

bool DeviceTable::device(quint64 generation, int row, DEV_INFO *out) const
{
    return m_store.device(generation, row, out);
}

bool DeviceTable::updateDevice(quint64 generation, int row, const std::function<void(DEV_INFO &)> &change)
{
    return m_store.updateDevice(generation, row, change);
}

DeviceSession DeviceTable::takeSession(quint64 generation, int row)
{
    return m_store.takeSession(generation, row);
}

DeviceSession DeviceTable::giveSession(quint64 generation, int row, DeviceSession session)
{
    return m_store.giveSession(generation, row, std::move(session));
}

void DeviceTable::post(const RowEvent &event)
{
    m_store.post(event);
}

void DeviceTable::show(const RowEvent &event)
{
    const int column = m_variant->columnOf(event.cell);
    if (column < 0)
        return;
    write(Write{event.row, column, event.text, event.isReport, event.outcome}, &event.generation);
}
