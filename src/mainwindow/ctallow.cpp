#include "mainwindow/ctallow.h"

#include "app/apppaths.h"
#include "app/cdialogtitle.h"
#include "app/cmessagebox.h"
#include "app/configkeys.h"
#include "logo/upgradelogowidget.h"
#include "mainwindow/buildstamp.h"
#include "netsdk/netsdk.h"
#include "oemid/setoemid.h"
#include "ui_ctallow.h"
#include "upgrade/upgradewidget.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDebug>
#include <QScreen>
#include <QTabBar>

CTallow::CTallow(QWidget *parent, Qt::WindowFlags flags) : QWidget(parent, flags), ui(new Ui::CTallowClass)
{
    setWindowFlags(Qt::FramelessWindowHint);
    ui->setupUi(this);
    m_appDir = AppPaths::current().shippedDataDir();

    H264_DVR_Init(nullptr, 0);
    H264_DVR_SetConnectTime(3000, 1);

    m_titleBar = new CDialogTitle(this);
    ui->layoutTitle->addWidget(m_titleBar);
    m_titleBar->setMinButtonHidden(false);
    m_titleBar->setTextColor(Qt::black);
    m_titleBar->setButtons(m_appDir + QStringLiteral("/Skin/buttons/"),
                           CTitleBar::CloseButton | CTitleBar::MaxButton | CTitleBar::MinButton);
    m_titleBar->setFixedHeight(35);

    const BuildStamp &stamp = BuildStamp::current();
    qDebug() << stamp.date.toString(QStringLiteral("yyyy.MM.dd")) << stamp.time;
    qDebug() << QStringLiteral("%1 %2").arg(stamp.date.toString(), stamp.time.toString());

    const QString version = ConfigKeys::stringValue(Key::Version);
    const QString title = windowTitleText(tr("DVR/NVR Tallow"), stamp, version);
    m_titleBar->setTitle(title);
    qDebug() << title;

    const int currentIndex = ConfigKeys::intValue(Key::CurrentIndex);

    ui->titleFrame->setObjectName(QStringLiteral("DlgTitle"));
    ui->mainFrame->setObjectName(QStringLiteral("DlgTitle"));
    setStyleSheet(QStringLiteral("#DlgTitle{border:1px solid rgb(40,40,40);}"));

    connect(m_titleBar, &CDialogTitle::closed, this, &CTallow::onClose);

    m_about = new QAction(tr("About Tallow"), this);
    m_about->setShortcut(QKeySequence::HelpContents);
    connect(m_about, &QAction::triggered, this, &CTallow::showAbout);
    addAction(m_about);
    m_titleBar->addAction(m_about);
    m_titleBar->setContextMenuPolicy(Qt::ActionsContextMenu);

    m_logoTab = new UpgradeLogoWidget(this);
    m_upgradeTab = new UpgradeWidget(this);
    m_oemidTab = new SetOEMID(this);
    ui->tabWidget->addTab(m_logoTab, tr("UpgradeLogo"));
    ui->tabWidget->addTab(m_upgradeTab, tr("Upgrade"));
    ui->tabWidget->addTab(m_oemidTab, tr("set oemid"));
    ui->tabWidget->tabBar()->setAccessibleName(tr("Tasks"));
    if (currentIndex >= 0 && currentIndex < ui->tabWidget->count())
        ui->tabWidget->setCurrentIndex(currentIndex);
}

CTallow::~CTallow()
{
    H264_DVR_Cleanup();
    const IniResult stored = ConfigKeys::setInt(Key::CurrentIndex, ui->tabWidget->currentIndex());
    if (!stored)
        qWarning() << "cannot store the current tab:" << stored.error;
    // The tabs are children: they log out their devices and clean up the SDK as they are destroyed.
    delete ui;
}

QTabWidget *CTallow::tabWidget() const
{
    return ui->tabWidget;
}

bool CTallow::confirmQuit()
{
    const int answer = CMessageBox::question(QApplication::activeWindow(), QString(),
                                             tr("Are you sure you want to exit?"), tr("Yes"), tr("No"));
    m_quitConfirmed = answer == 0;
    return m_quitConfirmed;
}

void CTallow::onClose()
{
    if (confirmQuit())
        QApplication::closeAllWindows();
}

void CTallow::showAbout()
{
    CMessageBox::information(this, tr("About Tallow"), AppPaths::current().describe());
}

void CTallow::closeEvent(QCloseEvent *event)
{
    // A close that did not come through the confirmed question (a window manager shortcut) asks
    // first, so running batch work is never dropped by accident.
    if (m_quitConfirmed || confirmQuit()) {
        event->accept();
        QApplication::closeAllWindows();
        return;
    }
    event->ignore();
}

void CTallow::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    centreOnScreen();
}

void CTallow::centreOnScreen()
{
    QScreen *s = screen();
    if (!s)
        return;
    const QRect g = s->geometry();
    move(g.x() + (g.width() - width()) / 2, g.y() + (g.height() - height()) / 2);
}
