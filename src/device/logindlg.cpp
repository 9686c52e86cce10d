#include "device/logindlg.h"

#include "app/apppaths.h"
#include "app/cmessagebox.h"
#include "device/devicerecord.h"
#include "device/loginerrortext.h"
#include "device/loginrunner.h"

#include <QApplication>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <cstring>

LoginDlg::LoginDlg(QWidget *parent, LoginRunner *runner)
    : CDialogWidget(parent, tr("Login"),
                    AppPaths::current().shippedDataDir() + QStringLiteral("/Skin/buttons/"), true),
      m_runner(runner ? runner : new LoginRunner(this))
{
    static_assert(sizeof(DEV_INFO::szUserName) == sizeof(DEV_INFO::szPsw), "one limit serves both fields");
    std::memset(&m_devInfo, 0, sizeof m_devInfo);

    auto *frame = new QFrame(this);
    frame->setObjectName(QStringLiteral("DlgTitle"));
    frame->setStyleSheet(QStringLiteral("#DlgTitle{border:1px solid rgb(40,40,40);}"));
    mainLayout()->addWidget(frame);
    auto *frameLayout = new QVBoxLayout(frame);

    auto *grid = new QGridLayout;
    grid->setContentsMargins(30, 10, 30, 10);
    grid->setSpacing(10);
    m_ipEdit = new QLineEdit(QStringLiteral("192.168.1.10"), frame);
    m_ipEdit->setObjectName(QStringLiteral("lineEditIP"));
    m_ipEdit->setValidator(new QRegularExpressionValidator(
        QRegularExpression(
            QStringLiteral("((2[0-4]\\d|25[0-5]|[01]?\\d\\d?)\\.){3}(2[0-4]\\d|25[0-5]|[01]?\\d\\d?)")),
        m_ipEdit));
    m_portEdit = new QLineEdit(QStringLiteral("34567"), frame);
    m_portEdit->setObjectName(QStringLiteral("lineEditPort"));
    m_portEdit->setValidator(new QIntValidator(0, 65535, m_portEdit));
    m_userEdit = new QLineEdit(QStringLiteral("admin"), frame);
    m_userEdit->setObjectName(QStringLiteral("lineEditUser"));
    m_userEdit->setMaxLength(CredentialLimit);
    m_passwordEdit = new QLineEdit(frame);
    m_passwordEdit->setObjectName(QStringLiteral("lineEditPassword"));
    m_passwordEdit->setMaxLength(CredentialLimit);
    m_passwordEdit->setEchoMode(QLineEdit::Password);

    const QString labels[4] = {tr("IP Address"), tr("Port"), tr("User Name"), tr("Password")};
    QLineEdit *edits[4] = {m_ipEdit, m_portEdit, m_userEdit, m_passwordEdit};
    for (int i = 0; i < 4; ++i) {
        auto *label = new QLabel(labels[i], frame);
        label->setBuddy(edits[i]); // names the field for screen readers
        grid->addWidget(label, i + 2, 0);
        grid->addWidget(edits[i], i + 2, 1);
    }
    frameLayout->addLayout(grid);

    auto *buttons = new QHBoxLayout;
    m_okBtn = new QPushButton(tr("OK"), frame);
    m_okBtn->setObjectName(QStringLiteral("okBtn"));
    m_okBtn->setMaximumWidth(75);
    m_okBtn->setDefault(true);
    m_cancelBtn = new QPushButton(tr("Cancel"), frame);
    m_cancelBtn->setObjectName(QStringLiteral("cancelBtn"));
    m_cancelBtn->setMaximumWidth(75);
    buttons->addStretch();
    buttons->addWidget(m_okBtn);
    buttons->addWidget(m_cancelBtn);
    buttons->addStretch();
    frameLayout->addLayout(buttons);

    resize(300, 128);

    connect(m_okBtn, &QPushButton::clicked, this, &LoginDlg::OnClickedOk);
    connect(m_cancelBtn, &QPushButton::clicked, this, &LoginDlg::onClick);
}

LoginDlg::~LoginDlg()
{
    abandonLogin();
}

bool LoginDlg::loggingIn() const
{
    return m_job != 0 && m_runner->running(m_job);
}

void LoginDlg::abandonLogin()
{
    if (m_job != 0)
        m_runner->abandon(m_job);
    m_job = 0;
}

void LoginDlg::preload()
{
    if (!m_preloaded) {
        m_portEdit->setText(QStringLiteral("34567"));
        return;
    }
    m_ipEdit->setText(QString::fromStdString(DeviceRecord::fixedText(m_devInfo.szIpaddress)));
    m_portEdit->setText(QString::number(m_devInfo.nPort));
    m_userEdit->setText(QString::fromStdString(DeviceRecord::fixedText(m_devInfo.szUserName)));
    m_passwordEdit->setText(QString::fromStdString(DeviceRecord::fixedText(m_devInfo.szPsw)));
}

QString LoginDlg::resolveHost(const QString &text)
{
    const QByteArray name = text.toLocal8Bit();
    // A dotted address is its own answer, and half-typed numbers such as "192.168" would be read by
    // the resolver's legacy rules as some other host (192.0.0.168): both stay as typed.
    static const QRegularExpression numeric(QStringLiteral("^[0-9.]*$"));
    if (numeric.match(text).hasMatch())
        return text;
    addrinfo hints;
    std::memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_INET;
    addrinfo *list = nullptr;
    if (name.isEmpty() || getaddrinfo(name.constData(), nullptr, &hints, &list) != 0 || !list)
        return text;
    char dotted[INET_ADDRSTRLEN] = {};
    const auto *addr = reinterpret_cast<const sockaddr_in *>(list->ai_addr);
    const bool ok = inet_ntop(AF_INET, &addr->sin_addr, dotted, sizeof dotted) != nullptr;
    freeaddrinfo(list);
    return ok ? QString::fromLatin1(dotted) : text;
}

void LoginDlg::OnClickedOk()
{
    if (loggingIn())
        return;
    // The field limit counts characters, the record bytes: a credential that does not fit is
    // refused here rather than sent cut.
    const QByteArray user = DeviceRecord::credentialBytes(m_userEdit->text());
    const QByteArray password = DeviceRecord::credentialBytes(m_passwordEdit->text());
    if (user.size() > CredentialLimit || password.size() > CredentialLimit) {
        CMessageBox::critical(QApplication::activeWindow(), QStringLiteral("Error"),
                              tr("User name and password can each hold at most 11 bytes"), tr("OK"));
        return;
    }
    m_password = m_passwordEdit->text();
    DeviceRecord::setFixedText(m_devInfo.szUserName, user.toStdString());
    DeviceRecord::setFixedText(m_devInfo.szPsw, password.toStdString());
    if (m_preloaded) {
        accept();
        return;
    }

    bool portOk = false;
    const uint port = m_portEdit->text().toUInt(&portOk, 10);
    if (!portOk || port > 65535) {
        // The validator lets partial input stand; a port the SDK would cut to 16 bits is refused here.
        CMessageBox::critical(QApplication::activeWindow(), QStringLiteral("Error"),
                              tr("The port must be a number from 0 to 65535"), tr("OK"));
        return;
    }
    m_devInfo.nPort = int32_t(port);
    const QString typed = m_ipEdit->text();

    m_okBtn->setEnabled(false);
    setCursor(Qt::WaitCursor);
    m_job = m_runner->run(
        m_devInfo,
        [typed](LoginRunner::Result &r) {
            // The name lookup may block too, so it runs here with the login.
            DeviceRecord::setFixedText(r.record.szIpaddress, resolveHost(typed).toLocal8Bit().toStdString());
            LoginRunner::login(r);
            if (r.session) {
                unsigned long returned = 0;
                H264_DVR_GetDevConfig(r.session.id(), NETSDK_CFG_NET_COMMON, -1,
                                      reinterpret_cast<char *>(&r.record.NetComm), 144, &returned, 3000);
            }
        },
        // Runs only while the dialog still wants the answer: Cancel and the end abandon the job.
        [this](LoginRunner::Result &r) {
            m_job = 0;
            m_okBtn->setEnabled(true);
            unsetCursor();
            if (!r.session) {
                std::memcpy(m_devInfo.szIpaddress, r.record.szIpaddress, sizeof m_devInfo.szIpaddress);
                CMessageBox::critical(QApplication::activeWindow(), QStringLiteral("Error"),
                                      loginErrorText(r.error, LoginTextVariant::Dialog, 0), tr("OK"));
                return;
            }
            m_devInfo = r.record;
            m_session = std::move(r.session);
            accept();
        });
}

void LoginDlg::onClick()
{
    reject();
}

void LoginDlg::reject()
{
    // Never wait for the device: the runner ends the login on its own time.
    abandonLogin();
    m_okBtn->setEnabled(true);
    unsetCursor();
    CDialogWidget::reject();
}
