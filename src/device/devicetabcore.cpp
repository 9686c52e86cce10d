#include "device/devicetabcore.h"

#include "app/configkeys.h"
#include "device/csearchdevicethread.h"
#include "device/devicerecord.h"
#include "device/devicetable.h"
#include "device/ipchange.h"
#include "device/logindlg.h"
#include "device/loginerrortext.h"
#include "device/loginrunner.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QStandardItemModel>
#include <QTableView>
#include <QWidget>

namespace {

QString selectText(bool all)
{
    return all ? QCoreApplication::translate("DeviceTable", "UnSelectAll")
               : QCoreApplication::translate("DeviceTable", "SelectAll");
}

} // namespace

DeviceTabCore::DeviceTabCore(TabKind kind, QWidget *tab)
    : QObject(tab), m_tab(tab), m_table(new DeviceTable(kind, this)), m_search(new CSearchDeviceThread(this)),
      m_runner(new LoginRunner(this))
{
    H264_DVR_Init(nullptr, 0);
    H264_DVR_SetConnectTime(2000, 1);
    m_search->setSearchTime(5000);
    m_modifyIp = ConfigKeys::isOn(Key::ModifyIP);
    m_startIndex = ConfigKeys::intValue(Key::StartIndex);
}

DeviceTabCore::~DeviceTabCore()
{
    delete m_runner; // waits for logins under way
    delete m_search; // waits for the search
    m_table->clear();
    H264_DVR_Cleanup();
}

const TableVariant &DeviceTabCore::variant() const
{
    return m_table->variant();
}

void DeviceTabCore::bindWidgets(QTableView *view, QAbstractButton *searchButton, QAbstractButton *selectButton)
{
    m_view = view;
    m_searchButton = searchButton;
    m_selectButton = selectButton;
    if (view)
        m_table->attachView(view);
}

bool DeviceTabCore::startSearch()
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

int DeviceTabCore::fillDeviceTable(const SDK_CONFIG_NET_COMMON_V2 &answer)
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

void DeviceTabCore::stopSearch()
{
    m_searching = false;
    if (m_searchButton)
        m_searchButton->setEnabled(true);
    m_tab->unsetCursor();
    m_tab->releaseMouse();
}

void DeviceTabCore::selectDevice()
{
    m_selectAll = !m_selectAll;
    for (int r = 0; r < m_table->model()->rowCount(); ++r)
        m_table->setChecked(r, m_selectAll);
    if (m_selectButton)
        m_selectButton->setText(selectText(m_selectAll));
}

void DeviceTabCore::reverse()
{
    for (int r = 0; r < m_table->model()->rowCount(); ++r)
        m_table->setChecked(r, !m_table->isChecked(r));
}

int DeviceTabCore::addByHand(DEV_INFO *added)
{
    if (m_table->rowCount() > MaxRows)
        return -1;
    LoginDlg dlg(m_tab, m_runner);
    dlg.setPreloaded(false);
    dlg.preload();
    if (dlg.exec() != QDialog::Accepted)
        return -1;
    const RowFill fill = fillFromLogin(variant(), dlg.devInfo(), m_table->rowCount(),
                                       QCoreApplication::translate("DeviceTable", "Login Success"));
    const int row = m_table->appendRow(fill);
    if (m_table->variant().checkable)
        m_table->setChecked(row, false);
    if (m_view)
        m_view->selectRow(row);
    if (added)
        m_table->copyRowDevice(row, added);
    return row;
}

void DeviceTabCore::reLogin(int row)
{
    DEV_INFO rec;
    if (!m_table->copyRowDevice(row, &rec))
        return;
    LoginDlg dlg(m_tab);
    dlg.setPreloaded(true);
    dlg.setDevInfo(rec);
    dlg.preload();
    if (dlg.exec() != QDialog::Accepted)
        return;

    const DEV_INFO creds = dlg.devInfo();
    // The worker takes over the old login (logs it out); the row forgets it now.
    m_table->updateRowDevice(row, [&creds, &rec](DEV_INFO &r) {
        DeviceRecord::setFixedText(r.szUserName, DeviceRecord::fixedText(creds.szUserName));
        DeviceRecord::setFixedText(r.szPsw, DeviceRecord::fixedText(creds.szPsw));
        rec = r;
        r.lLoginID = 0;
    });
    const quint64 generation = m_table->generation();
    m_runner->run(
        rec,
        [](LoginRunner::Result &r) {
            if (r.record.lLoginID > 0) {
                H264_DVR_Logout(r.record.lLoginID);
                r.record.lLoginID = 0;
            }
            LoginRunner::login(r);
            if (r.record.lLoginID <= 0)
                r.text = loginErrorText(r.error);
        },
        [this, row, generation](LoginRunner::Result &r) {
            const bool ok = r.record.lLoginID > 0;
            const bool stored = generation == m_table->generation()
                && m_table->updateRowDevice(row, [&r](DEV_INFO &rec) {
                       rec.lLoginID = r.record.lLoginID;
                       rec.NetDevInfo = r.record.NetDevInfo;
                   });
            if (!stored) {
                // The row went with a new search meanwhile.
                if (ok)
                    H264_DVR_Logout(r.record.lLoginID);
                emit reLoginFinished(row, false);
                return;
            }
            const TableVariant &v = variant();
            if (ok) {
                const H264_DVR_DEVICEINFO &info = r.record.NetDevInfo;
                m_table->setStatusText(row, QCoreApplication::translate("DeviceTable", "Login Success"));
                m_table->setCellText(row, v.columnOf(Field::Version),
                                     QString::fromLocal8Bit(DeviceRecord::fixedText(info.sSoftWareVersion).c_str()));
                m_table->setCellText(row, v.columnOf(Field::BuildDate),
                                     DeviceRecord::buildDateText(info.BuildYear, info.BuildMonth, info.BuildDay));
            } else {
                m_table->setStatusText(row, r.text);
            }
            emit reLoginFinished(row, ok);
        });
}

int DeviceTabCore::modifyIP(int nIndex, int nType)
{
    IpChange::Sdk sdk = IpChange::defaultSdk();
    if (m_stationMac)
        sdk.stationMac = m_stationMac;
    return IpChange::modifyIP(*m_table, nIndex, nType, m_startIndex, sdk);
}
