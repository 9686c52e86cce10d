#include "device/devicetablemodel.h"

#include "device/devicehistory.h"

#include <QCoreApplication>
#include <QMutexLocker>
#include <QThread>

#include <utility>

DeviceTableModel::DeviceTableModel(const TableVariant &variant, DeviceHistory &history, QObject *parent)
    : QAbstractTableModel(parent), m_variant(&variant), m_history(&history)
{
}

DeviceTableModel::~DeviceTableModel() = default;

int DeviceTableModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int DeviceTableModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : 8;
}

QVariant DeviceTableModel::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid))
        return {};
    const Row &row = m_rows[size_t(index.row())];
    switch (role) {
    case Qt::DisplayRole:
    case Qt::EditRole:
        return row.cells[size_t(index.column())];
    case Qt::CheckStateRole:
        if (index.column() == 0 && m_variant->checkable)
            return int(row.checked ? Qt::Checked : Qt::Unchecked);
        return {};
    default:
        return {};
    }
}

bool DeviceTableModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    if (role != Qt::CheckStateRole || index.column() != 0 || !m_variant->checkable ||
        !checkIndex(index, CheckIndexOption::IndexIsValid))
        return false;
    setChecked(index.row(), value.toInt() == Qt::Checked);
    return true;
}

Qt::ItemFlags DeviceTableModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::ItemIsDropEnabled;
    // As a standard item's: the view forbids editing.
    Qt::ItemFlags f = Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemIsEditable | Qt::ItemIsDragEnabled |
                      Qt::ItemIsDropEnabled;
    if (index.column() == 0 && m_variant->checkable)
        f |= Qt::ItemIsUserCheckable;
    return f;
}

QVariant DeviceTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && section >= 0 && section < 8 &&
        (role == Qt::DisplayRole || role == Qt::EditRole))
        return QCoreApplication::translate("DeviceTable", m_variant->columns[size_t(section)].header);
    return QAbstractTableModel::headerData(section, orientation, role);
}

void DeviceTableModel::retranslate()
{
    emit headerDataChanged(Qt::Horizontal, 0, 7);
}

void DeviceTableModel::appendRow(const std::array<QVariant, 8> &cells)
{
    const int row = int(m_rows.size());
    beginInsertRows({}, row, row);
    m_rows.push_back(Row{cells, false});
    endInsertRows();
}

void DeviceTableModel::clear(quint64 generation)
{
    {
        QMutexLocker locker(&m_lock);
        m_pending.clear();
        // Texts that reached the old rows stay theirs: they go to the history as their devices'.
        for (ParkedText &p : m_parkedHistory) {
            if (p.key.isEmpty())
                p.key = m_history->key(p.row);
        }
        constexpr size_t keptLists = 4;
        if (m_retiredKeys.size() >= keptLists)
            m_retiredKeys.erase(m_retiredKeys.begin());
        m_retiredKeys.emplace_back(m_generation, m_history->rowKeys());
        m_generation = generation;
    }
    if (!m_rows.empty()) {
        beginRemoveRows({}, 0, int(m_rows.size()) - 1);
        m_rows.clear();
        endRemoveRows();
    }
}

bool DeviceTableModel::isChecked(int row) const
{
    return m_variant->checkable && row >= 0 && row < int(m_rows.size()) && m_rows[size_t(row)].checked;
}

void DeviceTableModel::setChecked(int row, bool checked)
{
    if (!m_variant->checkable || row < 0 || row >= int(m_rows.size()) ||
        m_rows[size_t(row)].checked == checked)
        return;
    m_rows[size_t(row)].checked = checked;
    const QModelIndex i = index(row, 0);
    emit dataChanged(i, i, {Qt::CheckStateRole});
}

QList<int> DeviceTableModel::checkedRows() const
{
    QList<int> rows;
    for (int r = 0; r < int(m_rows.size()); ++r) {
        if (isChecked(r))
            rows.append(r);
    }
    return rows;
}

QString DeviceTableModel::text(int row, int column) const
{
    if (row < 0 || row >= int(m_rows.size()) || column < 0 || column >= 8)
        return {};
    return m_rows[size_t(row)].cells[size_t(column)].toString();
}

QString DeviceTableModel::retiredKey(quint64 generation, int row) const
{
    for (const auto &retired : m_retiredKeys) {
        if (retired.first == generation)
            return row >= 0 && row < int(retired.second.size()) ? retired.second[size_t(row)] : QString();
    }
    return {};
}

bool DeviceTableModel::claimFlush()
{
    return !std::exchange(m_flushQueued, true);
}

void DeviceTableModel::postFlush()
{
    QMetaObject::invokeMethod(this, &DeviceTableModel::flushPending, Qt::QueuedConnection);
}

bool DeviceTableModel::keepsHistory(int column) const
{
    if (column < 0 || column >= 8)
        return false;
    const Field field = m_variant->columns[size_t(column)].field;
    return field == Field::Status || field == Field::Oemid;
}

void DeviceTableModel::parkHistory(ParkedText &&parked)
{
    // Bounded even if the GUI thread falls behind: the history keeps only the newest per device.
    constexpr size_t maxParked = size_t(DeviceHistory::MaxPerDevice) * 64;
    if (m_parkedHistory.size() >= maxParked)
        m_parkedHistory.erase(m_parkedHistory.begin(), m_parkedHistory.begin() + maxParked / 2);
    m_parkedHistory.push_back(std::move(parked));
}

void DeviceTableModel::writeCell(int row, int column, const QString &text, StatusOutcome outcome, bool keep)
{
    if (row < 0 || row >= int(m_rows.size()) || column < 0 || column >= 8)
        return;
    QVariant &cell = m_rows[size_t(row)].cells[size_t(column)];
    // As a standard item: writing the text a cell holds tells no view.
    if (!(cell.userType() == QMetaType::QString && cell.toString() == text)) {
        cell = text;
        const QModelIndex i = index(row, column);
        emit dataChanged(i, i, {Qt::DisplayRole, Qt::EditRole});
    }
    if (keep)
        m_history->record(row, column, text, outcome, QDateTime::currentDateTime());
}

void DeviceTableModel::write(int row, int column, const QString &text, StatusOutcome outcome,
                             const quint64 *generation)
{
    // A worker does all it can before it takes the lock: one preempted while holding it (64 of them
    // share two cores in a big run) holds up the GUI thread's flush until it runs again.
    const bool keep = keepsHistory(column);
    const QDateTime when = keep ? QDateTime::currentDateTime() : QDateTime();
    bool post = false;
    if (generation) {
        QMutexLocker locker(&m_lock);
        if (*generation != m_generation) {
            // A job still running on rows a new search replaced: its device's history and the run
            // log learn its result, the new rows do not.
            const QString key = retiredKey(*generation, row);
            if (!key.isEmpty() && keep) {
                parkHistory(ParkedText{row, column, text, outcome, when, key});
                post = claimFlush();
            }
            locker.unlock();
            if (post)
                postFlush();
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
            m_pending.remove(cellKey(row, column));
            parked.swap(m_parkedHistory);
        }
        for (const ParkedText &p : parked)
            m_history->record(p.row, p.column, p.text, p.outcome, p.when, p.key);
        writeCell(row, column, text, outcome, true);
        return;
    }
    ParkedText parked{row, column, text, outcome, when, {}};
    {
        QMutexLocker locker(&m_lock);
        if (generation && *generation != m_generation)
            return;
        m_pending.insert(cellKey(row, column), text);
        if (keep)
            parkHistory(std::move(parked));
        post = claimFlush();
    }
    if (post)
        postFlush();
}

void DeviceTableModel::show(const RowEvent &event)
{
    const int column = m_variant->columnOf(event.cell);
    if (column < 0)
        return;
    write(event.row, column, event.text, event.outcome, &event.generation);
}

void DeviceTableModel::write(int row, int column, const QString &text, bool isReport, StatusOutcome outcome)
{
    write(row, column, text, isReport ? outcome : StatusOutcome::Neutral, nullptr);
}

void DeviceTableModel::flushPending()
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
        m_history->record(p.row, p.column, p.text, p.outcome, p.when, p.key);
}
