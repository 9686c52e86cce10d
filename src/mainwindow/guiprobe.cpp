#include "mainwindow/guiprobe.h"

#include "device/csearchdevicethread.h"
#include "device/devicetab.h"
#include "mainwindow/ctallow.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QFile>
#include <QPixmap>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>

#include <cstdio>

namespace
{
constexpr int FirmwareTab = 1;
constexpr int DeadlineMs = 60000;
// Rows of the search's last answers reach the table through queued events: let them land.
constexpr int SettleMs = 500;
} // namespace

bool GuiProbe::startIfAsked(CTallow &window)
{
    const QString file = qEnvironmentVariable("TALLOW_PROBE");
    if (file.isEmpty())
        return false;
    new GuiProbe(window, file);
    return true;
}

GuiProbe::GuiProbe(CTallow &window, const QString &file) : QObject(&window), m_window(window), m_file(file)
{
    QTabWidget *tabs = window.tabWidget();
    tabs->setCurrentIndex(FirmwareTab);
    auto *tab = qobject_cast<DeviceTab *>(tabs->widget(FirmwareTab));
    auto *search = tab ? tab->findChild<QAbstractButton *>(QStringLiteral("SearchButton")) : nullptr;
    m_view = tab ? tab->findChild<QTableView *>() : nullptr;
    if (!search || !m_view) {
        fprintf(stderr, "Tallow probe: the firmware tab has no Search button or table\n");
        QTimer::singleShot(0, this, [this] { report(false); });
        return;
    }
    connect(tab->tabController()->searchThread(), &CSearchDeviceThread::stop, this,
            [this] { QTimer::singleShot(SettleMs, this, [this] { report(true); }); });
    QTimer::singleShot(DeadlineMs, this, [this] { report(false); });
    QTimer::singleShot(0, search, &QAbstractButton::click);
}

void GuiProbe::report(bool finished)
{
    if (m_done)
        return;
    m_done = true;
    QStringList lines;
    if (const QAbstractItemModel *model = m_view ? m_view->model() : nullptr) {
        QStringList cells;
        for (int c = 0; c < model->columnCount(); ++c)
            cells << model->headerData(c, Qt::Horizontal).toString();
        lines << cells.join(QLatin1Char('\t'));
        for (int r = 0; r < model->rowCount(); ++r) {
            cells.clear();
            for (int c = 0; c < model->columnCount(); ++c)
                cells << model->index(r, c).data().toString();
            lines << cells.join(QLatin1Char('\t'));
        }
    }
    QFile out(m_file);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        out.write((lines.join(QLatin1Char('\n')) + QLatin1Char('\n')).toUtf8()) < 0)
        fprintf(stderr, "Tallow probe: cannot write %s\n", qPrintable(m_file));
    out.close();
    m_window.grab().save(m_file + QStringLiteral(".png"), "PNG");
    QCoreApplication::exit(finished ? 0 : 1);
}
