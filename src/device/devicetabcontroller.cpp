#include "device/devicetabcontroller.h"

#include "app/configkeys.h"
#include "device/csearchdevicethread.h"
#include "device/devicerecord.h"
#include "device/devicetable.h"
#include "device/devicetableactions.h"
#include "device/ipchange.h"
#include "device/logindlg.h"
#include "device/loginerrortext.h"
#include "device/loginrunner.h"
#include "device/runlog.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QHeaderView>
#include <QTableView>
#include <QWidget>

namespace
{

QString selectText(bool all)
{
    return all ? QCoreApplication::translate("DeviceTable", "UnSelectAll")
               : QCoreApplication::translate("DeviceTable", "SelectAll");
}

} // namespace

DeviceTabController::DeviceTabController(TabKind kind, QWidget *tab)
    : m_tab(tab), m_table(std::make_unique<DeviceTable>(kind)),
      m_search(std::make_unique<CSearchDeviceThread>()), m_runner(std::make_unique<LoginRunner>()),
      m_loginBatch(DeviceBatch::create(*m_table)), m_batch(DeviceBatch::create(*m_table))
{
    m_search->setSearchTime(5000);
    m_modifyIp = ConfigKeys::isOn(Key::ModifyIP);
    m_startIndex = ConfigKeys::intValue(Key::StartIndex);
    m_table->setRunLog(RunLog::forTab(kind));
}

DeviceTabController::~DeviceTabController()
{
    cancel();
}

void DeviceTabController::cancel()
{
    if (m_actions)
        m_actions->cancelCommand();
    m_batch->cancel();
    m_loginBatch->cancel();
    m_runner->abandonAll();
}

const TableVariant &DeviceTabController::variant() const
{
    return m_table->variant();
}

void DeviceTabController::bindWidgets(QTableView *view, QAbstractButton *searchButton,
                                      QAbstractButton *selectButton)
{
    m_view = view;
    m_searchButton = searchButton;
    m_selectButton = selectButton;
    if (view) {
        attachView(*m_table, view);
        if (!m_actions)
            m_actions = std::make_unique<DeviceTableActions>(*this, view);
    }
}

void DeviceTabController::attachView(const DeviceTable &table, QTableView *view)
{
    const TableVariant &variant = table.variant();
    view->setModel(table.model());
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setShowGrid(true);
    view->setAlternatingRowColors(true);
    view->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    for (int c = 0; c < 8; ++c)
        view->setColumnWidth(c, variant.columns[c].width);
    view->verticalHeader()->setVisible(!variant.hideVerticalHeader);
}

void DeviceTabController::setTabOrder(std::initializer_list<QWidget *> widgets)
{
    QWidget *previous = nullptr;
    for (QWidget *widget : widgets) {
        if (previous)
            QWidget::setTabOrder(previous, widget);
        previous = widget;
    }
}

bool DeviceTabController::startSearch()
{
    // Answers of a search still being delivered would land in the fresh table.
    if (m_searching || m_search->isRunning())
        return false;
    if (m_selectButton)
        m_selectButton->setText(selectText(false));
    m_selectAll = false;
    m_table->clear();
    if (m_searchButton)
        m_searchButton->setEnabled(false);
    m_searching = true;
    m_search->start(QThread::InheritPriority);
    m_tab->setCursor(Qt::WaitCursor);
    return true;
}

int DeviceTabController::fillDeviceTable(const SDK_CONFIG_NET_COMMON_V2 &answer)
{
    if (m_searchButton)
        m_searchButton->setEnabled(true);
    const std::optional<RowFill> fill = fillFromSearch(variant(), answer, m_table->rowCount());
    if (!fill)
        return -1;
    const int row = m_table->appendRow(*fill);
    m_tab->unsetCursor();
    m_tab->releaseMouse();
    return row;
}

void DeviceTabController::stopSearch()
{
    m_searching = false;
    if (m_searchButton)
        m_searchButton->setEnabled(true);
    m_tab->unsetCursor();
    m_tab->releaseMouse();
}

void DeviceTabController::selectDevice()
{
    m_selectAll = !m_selectAll;
    for (int r = 0; r < m_table->model()->rowCount(); ++r)
        m_table->setChecked(r, m_selectAll);
    if (m_selectButton)
        m_selectButton->setText(selectText(m_selectAll));
}

void DeviceTabController::reverse()
{
    for (int r = 0; r < m_table->model()->rowCount(); ++r)
        m_table->setChecked(r, !m_table->isChecked(r));
}

int DeviceTabController::addByHand(DEV_INFO *added)
{
    if (m_table->rowCount() > MaxRows)
        return -1;
    LoginDlg dlg(m_tab, m_runner.get());
    dlg.setPreloaded(false);
    dlg.preload();
    if (dlg.exec() != QDialog::Accepted)
        return -1;
    const RowFill fill = fillFromLogin(variant(), dlg.devInfo(), m_table->rowCount(),
                                       QCoreApplication::translate("DeviceTable", "Login Success"));
    const int row = m_table->appendRow(fill, dlg.takeSession());
    if (m_table->variant().checkable)
        m_table->setChecked(row, false);
    if (m_view)
        m_view->selectRow(row);
    if (added)
        m_table->device(m_table->generation(), row, added);
    return row;
}

bool DeviceTabController::reLogin(int row)
{
    // A second re-login would race the first for the row's handle; a run holds the rows' records.
    if (m_loginBatch->isActive() || m_batch->isActive())
        return false;
    DEV_INFO rec;
    if (!m_table->device(m_table->generation(), row, &rec))
        return false;
    LoginDlg dlg(m_tab);
    dlg.setPreloaded(true);
    dlg.setDevInfo(rec);
    dlg.preload();
    if (dlg.exec() != QDialog::Accepted)
        return false;
    if (m_loginBatch->isActive() || m_batch->isActive())
        return false;

    const DEV_INFO creds = dlg.devInfo();
    const quint64 generation = m_table->generation();
    const bool listed = m_table->updateDevice(generation, row, [&](DEV_INFO &r) {
        DeviceRecord::setFixedText(r.szUserName, DeviceRecord::fixedText(creds.szUserName));
        DeviceRecord::setFixedText(r.szPsw, DeviceRecord::fixedText(creds.szPsw));
        rec = r;
    });
    if (!listed)
        return false;
    // The job owns the old session and ends it before logging in again.
    auto oldSession = std::make_shared<DeviceSession>(m_table->takeSession(generation, row));

    BatchPlan plan;
    plan.rows = {row};
    plan.options.marksRun = false;
    plan.job = [this, rec, oldSession](BatchContext &ctx) {
        oldSession->reset();
        LoginRunner::Result r;
        r.record = rec;
        r.record.lLoginID = 0;
        LoginRunner::login(r);
        const bool ok = r.session.loggedIn();
        const bool stored =
            ctx.rows().updateDevice(ctx.row(), [&](DEV_INFO &d) { d.NetDevInfo = r.record.NetDevInfo; });
        // Whatever comes back (a session stored meanwhile, or this one when the row went with a
        // new search) ends here.
        ctx.rows().giveSession(ctx.row(), std::move(r.session));
        if (stored) {
            if (ok) {
                const H264_DVR_DEVICEINFO &info = r.record.NetDevInfo;
                ctx.status(StatusOutcome::Success,
                           QCoreApplication::translate("DeviceTable", "Login Success"));
                ctx.value(Field::Version,
                          QString::fromLocal8Bit(DeviceRecord::fixedText(info.sSoftWareVersion).c_str()));
                ctx.value(Field::BuildDate,
                          DeviceRecord::buildDateText(info.BuildYear, info.BuildMonth, info.BuildDay));
            } else {
                ctx.status(StatusOutcome::Failure, loginErrorText(r.error));
            }
        }
        const int row = ctx.row();
        const bool reported = stored && ok;
        QMetaObject::invokeMethod(
            this, [this, row, reported] { emit reLoginFinished(row, reported); }, Qt::QueuedConnection);
    };
    return m_loginBatch->start(std::move(plan));
}

QString DeviceTabController::addressChangeProblem() const
{
    return ConfigKeys::isOn(Key::ModifyIP) ? IpChange::startIndexProblem(m_startIndex) : QString();
}

int DeviceTabController::modifyIP(int nIndex, int nType)
{
    return modifyIP(m_table->generation(), nIndex, nType);
}

int DeviceTabController::modifyIP(quint64 generation, int nIndex, int nType)
{
    IpChange::Sdk sdk = IpChange::defaultSdk();
    if (m_stationMac)
        sdk.stationMac = m_stationMac;
    return IpChange::modifyIP(m_table->store(), generation, nIndex, nType, m_startIndex, sdk);
}
