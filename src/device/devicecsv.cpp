#include "device/devicecsv.h"

#include "device/devicetable.h"

#include <QCoreApplication>
#include <QSaveFile>

namespace DeviceCsv
{

bool formulaLike(const QString &text)
{
    if (text.isEmpty())
        return false;
    switch (text.at(0).unicode()) {
    case '=':
    case '+':
    case '-':
    case '@':
    case '\t':
    case '\r':
        return true;
    default:
        return false;
    }
}

QString field(const QString &text)
{
    // Versions, cloud IDs and OEMIDs come from the devices: a spreadsheet would run a cell that
    // starts like a formula, so such a cell gets a leading quote, which spreadsheets take as "text".
    const bool formula = formulaLike(text);
    if (!formula && !text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) &&
        !text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')))
        return text;
    QString quoted = formula ? QLatin1Char('\'') + text : text;
    quoted.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QString record(const QStringList &fields)
{
    QStringList out;
    out.reserve(fields.size());
    for (const QString &f : fields)
        out.append(field(f));
    return out.join(QLatin1Char(',')) + QLatin1String("\r\n");
}

QString table(const DeviceTable &table)
{
    const DeviceTableModel *model = table.model();
    QStringList header;
    for (int c = 0; c < 8; ++c)
        header.append(model->headerData(c, Qt::Horizontal).toString());
    header.append(QCoreApplication::translate("DeviceTable", "Last status time"));
    header.append(QCoreApplication::translate("DeviceTable", "Wave"));
    QString out = record(header);
    for (int r = 0; r < model->rowCount(); ++r) {
        QStringList fields;
        for (int c = 0; c < 8; ++c) {
            fields.append(model->index(r, c).data(Qt::DisplayRole).toString());
        }
        const QDateTime when = table.lastStatusTime(r);
        fields.append(when.isValid() ? when.toString(Qt::ISODate) : QString());
        const int wave = table.wave(r);
        fields.append(wave > 0 ? QString::number(wave) : QString());
        out += record(fields);
    }
    return out;
}

bool write(const DeviceTable &source, const QString &path, QString *error)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(table(source).toUtf8()) < 0 || !file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

bool parse(const QString &text, QList<QStringList> *records)
{
    records->clear();
    QStringList current;
    QString fieldText;
    bool quoted = false;
    bool fieldStarted = false;
    const int n = int(text.size());
    for (int i = 0; i < n; ++i) {
        const QChar c = text.at(i);
        if (quoted) {
            if (c == QLatin1Char('"')) {
                if (i + 1 < n && text.at(i + 1) == QLatin1Char('"')) {
                    fieldText += c;
                    ++i;
                } else {
                    quoted = false;
                }
            } else {
                fieldText += c;
            }
            continue;
        }
        if (c == QLatin1Char('"')) {
            if (!fieldText.isEmpty())
                return false; // a quote inside an unquoted field
            quoted = true;
            fieldStarted = true;
        } else if (c == QLatin1Char(',')) {
            current.append(fieldText);
            fieldText.clear();
            fieldStarted = true;
        } else if (c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
            if (c == QLatin1Char('\r') && i + 1 < n && text.at(i + 1) == QLatin1Char('\n'))
                ++i;
            current.append(fieldText);
            records->append(current);
            current.clear();
            fieldText.clear();
            fieldStarted = false;
        } else {
            fieldText += c;
            fieldStarted = true;
        }
    }
    if (quoted)
        return false;
    if (fieldStarted || !fieldText.isEmpty() || !current.isEmpty()) {
        current.append(fieldText);
        records->append(current);
    }
    return true;
}

} // namespace DeviceCsv
