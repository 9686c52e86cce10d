#include "ctlreport.h"

#include "ctlexit.h"
#include "ctlfleet.h"
#include "ctltr.h"

#include "device/devicetable.h"

#include <QJsonArray>
#include <QJsonDocument>

CtlReport::CtlReport(DeviceTable &table, Mode mode, QString command, std::FILE *out)
    : m_table(table), m_mode(mode), m_command(std::move(command)), m_out(out)
{
    connect(table.model(), &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex &tl, const QModelIndex &br) {
                cellsChanged(tl.row(), br.row(), tl.column(), br.column());
            });
    // A terminal is redrawn at most ten times a second, however fast the devices report.
    m_drawTimer.setSingleShot(true);
    m_drawTimer.setInterval(100);
    connect(&m_drawTimer, &QTimer::timeout, this, [this] { draw(false); });
}

CtlReport::~CtlReport() = default;

QString CtlReport::outcomeName(StatusOutcome outcome)
{
    switch (outcome) {
    case StatusOutcome::Success:
        return QStringLiteral("success");
    case StatusOutcome::Failure:
        return QStringLiteral("failure");
    case StatusOutcome::Halted:
        return QStringLiteral("halted");
    case StatusOutcome::Unsupported:
        return QStringLiteral("unsupported");
    case StatusOutcome::Neutral:
        break;
    }
    return QStringLiteral("neutral");
}

void CtlReport::follow(const QList<int> &rows)
{
    m_rows = rows;
    m_lastText.clear();
    if (m_mode == Mode::Terminal)
        scheduleDraw();
}

void CtlReport::missing(const QString &name)
{
    m_missing << name;
    const QString text = TallowCtl::tr("Not found");
    if (m_mode == Mode::Json) {
        line(QJsonObject{{QStringLiteral("event"), QStringLiteral("device")},
                         {QStringLiteral("time"), QDateTime::currentDateTime().toString(Qt::ISODateWithMs)},
                         {QStringLiteral("device"), name},
                         {QStringLiteral("text"), text},
                         {QStringLiteral("outcome"), outcomeName(StatusOutcome::Failure)}});
    } else {
        std::fprintf(stderr, "%s\n", qPrintable(TallowCtl::tr("%1: %2").arg(name, text)));
    }
}

QJsonObject CtlReport::deviceObject(int row) const
{
    return QJsonObject{{QStringLiteral("row"), row + 1},
                       {QStringLiteral("device"), m_table.deviceKey(row)},
                       {QStringLiteral("ip"), CtlFleet::rowAddress(m_table, row)},
                       {QStringLiteral("mac"), CtlFleet::rowMac(m_table, row)}};
}

void CtlReport::cellsChanged(int firstRow, int lastRow, int firstColumn, int lastColumn)
{
    const TableVariant &variant = m_table.variant();
    const int oemidColumn = variant.columnOf(Field::Oemid);
    for (int row = firstRow; row <= lastRow; ++row) {
        if (!m_rows.contains(row))
            continue;
        for (int column = firstColumn; column <= lastColumn; ++column) {
            if (column != variant.statusColumn && column != oemidColumn)
                continue;
            const QString text = m_table.model()->text(row, column);
            if (column == variant.statusColumn) {
                if (m_lastText[row] == text)
                    continue;
                m_lastText[row] = text;
            }
            if (m_mode == Mode::Json) {
                QJsonObject o{
                    {QStringLiteral("event"), QStringLiteral("device")},
                    {QStringLiteral("time"), QDateTime::currentDateTime().toString(Qt::ISODateWithMs)}};
                const QJsonObject d = deviceObject(row);
                for (auto it = d.begin(); it != d.end(); ++it)
                    o.insert(it.key(), it.value());
                o.insert(QStringLiteral("column"),
                         column == variant.statusColumn ? QStringLiteral("status") : QStringLiteral("oemid"));
                o.insert(QStringLiteral("text"), text);
                o.insert(QStringLiteral("outcome"),
                         outcomeName(column == variant.statusColumn ? m_table.statusOutcome(row)
                                                                    : StatusOutcome::Neutral));
                line(o);
            } else {
                scheduleDraw();
            }
        }
    }
}

StatusOutcome CtlReport::rowOutcome(int row, const QList<int> &failed, const QList<int> &unsupported) const
{
    if (failed.contains(row))
        return StatusOutcome::Failure;
    if (unsupported.contains(row))
        return StatusOutcome::Unsupported;
    return m_table.statusOutcome(row);
}

CtlReport::Tally CtlReport::tally() const
{
    Tally t;
    const QList<int> failed = m_table.failedRows();
    const QList<int> unsupported = m_table.unsupportedRows();
    for (int row : m_rows) {
        ++t.total;
        switch (rowOutcome(row, failed, unsupported)) {
        case StatusOutcome::Failure:
            ++t.failed;
            break;
        case StatusOutcome::Success:
            ++t.succeeded;
            break;
        case StatusOutcome::Unsupported:
            ++t.unsupported;
            break;
        case StatusOutcome::Neutral:
        case StatusOutcome::Halted:
            ++t.unfinished;
            break;
        }
    }
    t.total += int(m_missing.size());
    t.failed += int(m_missing.size());
    return t;
}

void CtlReport::scheduleDraw()
{
    if (!m_drawTimer.isActive())
        m_drawTimer.start();
}

void CtlReport::draw(bool final)
{
    if (m_mode != Mode::Terminal)
        return;
    QStringList lines;
    int done = 0;
    const QList<int> failed = m_table.failedRows();
    for (int row : m_rows) {
        const StatusOutcome outcome = m_table.statusOutcome(row);
        const QString text = m_table.statusText(row);
        const QString who = CtlFleet::rowAddress(m_table, row);
        if (outcome != StatusOutcome::Neutral)
            ++done;
        if (failed.contains(row))
            lines << TallowCtl::tr("  failed     %1  %2").arg(who, -15).arg(text);
        else if (!final && outcome == StatusOutcome::Neutral && m_lastText.count(row) && !text.isEmpty())
            lines << TallowCtl::tr("  in flight  %1  %2").arg(who, -15).arg(text);
    }
    lines.prepend(TallowCtl::tr("%1: %2 of %3 devices done").arg(m_command).arg(done).arg(m_rows.size()));
    QByteArray out;
    // Back over what was drawn last time, then draw again below.
    if (m_drawnLines > 0)
        out += "\x1b[" + QByteArray::number(m_drawnLines) + "F\x1b[J";
    for (const QString &l : lines)
        out += l.toLocal8Bit() + '\n';
    std::fwrite(out.constData(), 1, std::size_t(out.size()), m_out);
    std::fflush(m_out);
    m_drawnLines = final ? 0 : int(lines.size());
}

void CtlReport::line(const QJsonObject &object)
{
    const QByteArray text = QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
    std::fwrite(text.constData(), 1, std::size_t(text.size()), m_out);
    std::fflush(m_out);
}

int CtlReport::finish(bool interrupted, const QJsonObject &extra, int code)
{
    m_table.flushPending();
    m_drawTimer.stop();
    const Tally t = tally();
    if (code < 0)
        code = interrupted                          ? CtlExit::Interrupted
               : (t.failed > 0 || t.unfinished > 0) ? CtlExit::DevicesFailed
                                                    : CtlExit::Ok;

    if (m_mode == Mode::Json) {
        QJsonArray devices;
        const QList<int> failed = m_table.failedRows();
        const QList<int> unsupported = m_table.unsupportedRows();
        for (int row : m_rows) {
            QJsonObject d = deviceObject(row);
            d.insert(QStringLiteral("text"), m_table.statusText(row));
            d.insert(QStringLiteral("outcome"), outcomeName(rowOutcome(row, failed, unsupported)));
            devices.append(d);
        }
        for (const QString &name : m_missing)
            devices.append(QJsonObject{{QStringLiteral("device"), name},
                                       {QStringLiteral("text"), TallowCtl::tr("Not found")},
                                       {QStringLiteral("outcome"), outcomeName(StatusOutcome::Failure)}});
        QJsonObject s{{QStringLiteral("event"), QStringLiteral("summary")},
                      {QStringLiteral("command"), m_command},
                      {QStringLiteral("time"), QDateTime::currentDateTime().toString(Qt::ISODateWithMs)},
                      {QStringLiteral("total"), t.total},
                      {QStringLiteral("succeeded"), t.succeeded},
                      {QStringLiteral("failed"), t.failed},
                      {QStringLiteral("unsupported"), t.unsupported},
                      {QStringLiteral("unfinished"), t.unfinished},
                      {QStringLiteral("interrupted"), interrupted},
                      {QStringLiteral("exitCode"), code},
                      {QStringLiteral("devices"), devices}};
        for (auto it = extra.begin(); it != extra.end(); ++it)
            s.insert(it.key(), it.value());
        line(s);
    } else {
        draw(true);
        QString summary = TallowCtl::tr("%1 succeeded, %2 failed, %3 unfinished, of %4 devices")
                              .arg(t.succeeded)
                              .arg(t.failed)
                              .arg(t.unfinished)
                              .arg(t.total);
        // Said only when there are some, so the usual line stays as it was.
        if (t.unsupported > 0)
            summary += TallowCtl::tr("; %1 not supported over ONVIF (neither succeeded nor failed)")
                           .arg(t.unsupported);
        if (interrupted)
            summary += TallowCtl::tr(" (interrupted)");
        std::fprintf(m_out, "%s\n", summary.toLocal8Bit().constData());
        std::fflush(m_out);
    }
    return code;
}
