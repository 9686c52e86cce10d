#include "device/devicetableactions.h"

#include "app/apppaths.h"
#include "app/cdialogwidget.h"
#include "app/cmessagebox.h"
#include "device/cbatchdealthread.h"
#include "device/devicecsv.h"
#include "device/devicetabcontroller.h"
#include "device/devicetable.h"
#include "device/onvifprobedialog.h"
#include "device/tablecommand.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDateTime>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

DeviceTableActions::DeviceTableActions(DeviceTabController &core, QTableView *view)
    : m_controller(core), m_view(view), m_command(std::make_unique<TableCommand>(*core.table()))
{
    connect(m_command.get(), &TableCommand::finished, this, &DeviceTableActions::commandFinished);
    view->setContextMenuPolicy(Qt::CustomContextMenu);
    view->setFocusPolicy(Qt::StrongFocus);
    view->setAccessibleName(QCoreApplication::translate("DeviceTable", "Device list"));
    view->setAccessibleDescription(QCoreApplication::translate(
        "DeviceTable",
        "Space ticks the current device, Ctrl+A ticks all, the menu key opens the device menu"));
    connect(view, &QWidget::customContextMenuRequested, this,
            [this](const QPoint &pos) { openMenu(pos, m_view ? m_view->indexAt(pos).row() : -1); });
    view->installEventFilter(this);
}

DeviceTableActions::~DeviceTableActions() = default;

void DeviceTableActions::cancelCommand()
{
    if (m_command)
        m_command->cancel();
}

QMenu *DeviceTableActions::createMenu(int row)
{
    auto *menu = new QMenu(m_view);
    menu->setAccessibleName(QCoreApplication::translate("DeviceTable", "Device menu"));
    QAction *history = menu->addAction(QCoreApplication::translate("DeviceTable", "Show history"));
    history->setObjectName(QStringLiteral("showHistory"));
    history->setEnabled(row >= 0 && row < m_controller.table()->model()->rowCount());
    connect(history, &QAction::triggered, this, [this, row] { showHistory(row); });

    QAction *failed = menu->addAction(QCoreApplication::translate("DeviceTable", "Select failed"));
    failed->setObjectName(QStringLiteral("selectFailed"));
    connect(failed, &QAction::triggered, this, [this] { selectFailed(); });

    QAction *csv = menu->addAction(QCoreApplication::translate("DeviceTable", "Export…"));
    csv->setObjectName(QStringLiteral("exportCsv"));
    connect(csv, &QAction::triggered, this, [this] { exportCsv(); });

    QAction *probe = menu->addAction(QCoreApplication::translate("DeviceTable", "ONVIF probe addresses…"));
    probe->setObjectName(QStringLiteral("onvifProbeAddresses"));
    connect(probe, &QAction::triggered, this, [this] { showProbeAddresses(); });

    menu->addSeparator();
    const bool idle = !commandRunning() && !m_controller.batch()->isActive();
    QAction *reset = menu->addAction(QCoreApplication::translate("DeviceTable", "Reset configuration"));
    reset->setObjectName(QStringLiteral("resetConfig"));
    reset->setEnabled(idle);
    connect(reset, &QAction::triggered, this, [this] { runCommand(CBatchDealThread::ResetConfig); });
    QAction *reboot = menu->addAction(QCoreApplication::translate("DeviceTable", "Reboot"));
    reboot->setObjectName(QStringLiteral("reboot"));
    reboot->setEnabled(idle);
    connect(reboot, &QAction::triggered, this, [this] { runCommand(CBatchDealThread::Reboot); });
    if (m_checkDevices) {
        QAction *check = menu->addAction(QCoreApplication::translate("DeviceTable", "Check devices"));
        check->setObjectName(QStringLiteral("checkDevices"));
        check->setEnabled(idle);
        connect(check, &QAction::triggered, this, [this] {
            if (m_checkDevices && !commandRunning() && !m_controller.batch()->isActive())
                m_checkDevices(chosenRows());
        });
    }
    return menu;
}

void DeviceTableActions::openMenu(const QPoint &viewportPos, int row)
{
    if (!m_view)
        return;
    QMenu *menu = createMenu(row);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(m_view->viewport()->mapToGlobal(viewportPos));
}

QString DeviceTableActions::historyText(int row) const
{
    const DeviceTable &table = *m_controller.table();
    const TableVariant &variant = table.variant();
    QStringList lines;
    for (const HistoryEntry &entry : table.history(row)) {
        const int column = variant.columnOf(entry.field);
        const QString heading =
            column >= 0 ? QCoreApplication::translate("DeviceTable", variant.columns[size_t(column)].header)
                        : QString();
        lines.append(
            QStringLiteral("%1  %2: %3")
                .arg(entry.time.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")), heading, entry.text));
    }
    return lines.join(QLatin1Char('\n'));
}

CDialogWidget *DeviceTableActions::showHistory(int row)
{
    DeviceTable &table = *m_controller.table();
    if (!m_view || row < 0 || row >= table.model()->rowCount())
        return nullptr;
    const int ipColumn = table.variant().columnOf(Field::Ip);
    const QString ip = table.model()->text(row, ipColumn);
    const QString title =
        QCoreApplication::translate("DeviceTable", "History of %1 (%2)").arg(ip, table.deviceKey(row));

    auto *dialog =
        new CDialogWidget(m_view->window(), title,
                          AppPaths::current().shippedDataDir() + QStringLiteral("/Skin/buttons/"), true);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setObjectName(QStringLiteral("historyDialog"));
    auto *text = new QPlainTextEdit(dialog);
    text->setObjectName(QStringLiteral("historyText"));
    text->setReadOnly(true);
    text->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    text->setAccessibleName(QCoreApplication::translate("DeviceTable", "Device history"));
    const QString body = historyText(row);
    text->setPlainText(body.isEmpty() ? QString() : body);
    text->setPlaceholderText(QCoreApplication::translate("DeviceTable", "No texts yet"));
    auto *copy = new QPushButton(QCoreApplication::translate("DeviceTable", "Copy"), dialog);
    copy->setObjectName(QStringLiteral("historyCopy"));
    copy->setAccessibleName(QCoreApplication::translate("DeviceTable", "Copy"));
    connect(copy, &QPushButton::clicked, text,
            [text] { QApplication::clipboard()->setText(text->toPlainText()); });
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(copy);
    dialog->mainLayout()->addWidget(text);
    dialog->mainLayout()->addLayout(buttons);
    dialog->resize(620, 360);
    m_historyDialog = dialog;
    dialog->show();
    text->moveCursor(QTextCursor::End); // newest last, in view
    return dialog;
}

OnvifProbeDialog *DeviceTableActions::showProbeAddresses()
{
    if (!m_view)
        return nullptr;
    if (m_probeDialog) {
        m_probeDialog->raise();
        return m_probeDialog;
    }
    auto *dialog = new OnvifProbeDialog(m_view->window(), AppPaths::current().shippedDataDir() +
                                                              QStringLiteral("/Skin/buttons/"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    m_probeDialog = dialog;
    dialog->open();
    return dialog;
}

QList<int> DeviceTableActions::selectFailed()
{
    DeviceTable &table = *m_controller.table();
    table.flushPending();
    const QList<int> failed = table.failedRows();
    if (table.variant().checkable) {
        for (int r = 0; r < table.model()->rowCount(); ++r)
            table.setChecked(r, failed.contains(r));
    } else if (m_view && m_view->selectionModel()) {
        QItemSelection selection;
        for (int r : failed)
            selection.select(table.model()->index(r, 0), table.model()->index(r, 7));
        m_view->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
    }
    return failed;
}

bool DeviceTableActions::exportTo(const QString &path)
{
    DeviceTable &table = *m_controller.table();
    table.flushPending();
    QString error;
    if (DeviceCsv::write(table, path, &error))
        return true;
    CMessageBox::warning(m_view, QCoreApplication::translate("DeviceTable", "Prompt"),
                         QCoreApplication::translate("DeviceTable", "Cannot write %1: %2").arg(path, error));
    return false;
}

void DeviceTableActions::exportCsv()
{
    QString path;
    if (m_chooseExportPath) {
        path = m_chooseExportPath();
    } else {
        path = QFileDialog::getSaveFileName(
            m_view, QCoreApplication::translate("DeviceTable", "Export…"),
            QStringLiteral("devices-%1.csv")
                .arg(QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-hhmmss"))),
            QCoreApplication::translate("DeviceTable", "CSV files (*.csv)"));
    }
    if (!path.isEmpty())
        exportTo(path);
}

QList<int> DeviceTableActions::chosenRows() const
{
    DeviceTable &table = *m_controller.table();
    if (table.variant().checkable)
        return table.checkedRows();
    QList<int> rows;
    if (m_view && m_view->selectionModel()) {
        for (const QModelIndex &index : m_view->selectionModel()->selectedRows())
            rows.append(index.row());
        std::sort(rows.begin(), rows.end());
    }
    return rows;
}

bool DeviceTableActions::commandRunning() const
{
    return m_command->isRunning();
}

bool DeviceTableActions::runCommand(int command)
{
    if (command != CBatchDealThread::ResetConfig && command != CBatchDealThread::Reboot)
        return false;
    if (commandRunning() || m_controller.batch()->isActive()) {
        CMessageBox::information(
            m_view, QCoreApplication::translate("DeviceTable", "Prompt"),
            QCoreApplication::translate("DeviceTable", "A batch command is still running"));
        return false;
    }
    const QList<int> rows = chosenRows();
    if (rows.isEmpty()) {
        CMessageBox::information(m_view, QCoreApplication::translate("DeviceTable", "Prompt"),
                                 QCoreApplication::translate("DeviceTable", "Please Select a Device"));
        return false;
    }
    const QString question =
        command == CBatchDealThread::Reboot
            ? QCoreApplication::translate("DeviceTable", "Reboot %1 device(s)?").arg(rows.size())
            : QCoreApplication::translate("DeviceTable",
                                          "Reset the configuration of %1 device(s) to factory defaults?")
                  .arg(rows.size());
    if (CMessageBox::question(m_view, QCoreApplication::translate("DeviceTable", "Prompt"), question,
                              QCoreApplication::translate("DeviceTable", "OK"),
                              QCoreApplication::translate("DeviceTable", "Cancel")) != 0)
        return false;

    return m_command->start(command, rows);
}

void DeviceTableActions::commandAnswered(DeviceTable &table, int ret, int nError, int row, int nCmd)
{
    TableCommand::answered(table, ret, nError, row, nCmd);
}

bool DeviceTableActions::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_view || event->type() != QEvent::KeyPress)
        return QObject::eventFilter(watched, event);
    auto *key = static_cast<QKeyEvent *>(event);
    DeviceTable &table = *m_controller.table();
    const int current = m_view->currentIndex().row();
    if (key->key() == Qt::Key_Menu || (key->key() == Qt::Key_F10 && key->modifiers() == Qt::ShiftModifier)) {
        const QRect cell = current >= 0 ? m_view->visualRect(m_view->model()->index(current, 0)) : QRect();
        openMenu(cell.isValid() ? cell.center() : QPoint(0, 0), current);
        return true;
    }
    if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
        (key->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier && current >= 0) {
        // What a double click on the row does (a click, then the double click), so that a tab's
        // row actions such as logging a device in again need no mouse.
        const QModelIndex index = m_view->currentIndex();
        emit m_view->clicked(index);
        emit m_view->doubleClicked(index);
        return true;
    }
    if (!table.variant().checkable)
        return QObject::eventFilter(watched, event);
    if (key->key() == Qt::Key_Space && key->modifiers() == Qt::NoModifier && current >= 0) {
        table.setChecked(current, !table.isChecked(current));
        return true;
    }
    if (key->matches(QKeySequence::SelectAll)) {
        for (int r = 0; r < table.model()->rowCount(); ++r)
            table.setChecked(r, true);
        return true;
    }
    return QObject::eventFilter(watched, event);
}
