#pragma once

#include "app/cdialogwidget.h"
#include "device/devicesession.h"
#include "netsdk/netsdk.h"

class LoginRunner;
class QLineEdit;
class QPushButton;

/// Logs a device in by hand (Add), or takes new credentials for a listed device (re-login).
///
/// Preloaded (re-login): OK copies user and password into the record and accepts; the owner logs in.
/// Not preloaded (Add): OK resolves the address and logs in on a worker thread; a failure shows the
/// error box and keeps the dialog open, a success stores the login and the device's network block
/// in the record and accepts. Cancel never waits for a login under way: the login is left to
/// `runner` (the owner's, which outlives the dialog), which logs it out when it arrives.
/// User name and password are limited to what the record carries (11 bytes and a terminator); a
/// credential that does not fit is refused, never cut.
class LoginDlg : public CDialogWidget
{
    Q_OBJECT
public:
    /// Without a runner the dialog keeps its own, and its end then waits for a login under way.
    explicit LoginDlg(QWidget *parent = nullptr, LoginRunner *runner = nullptr);
    ~LoginDlg() override;

    void setPreloaded(bool preloaded) { m_preloaded = preloaded; }
    bool preloaded() const { return m_preloaded; }
    void setDevInfo(const DEV_INFO &info) { m_devInfo = info; }
    /// The record the dialog shows and edits.
    const DEV_INFO &devInfo() const { return m_devInfo; }
    /// After an accepted Add: the login it made, for the caller to keep. It ends with the dialog
    /// otherwise.
    DeviceSession takeSession() { return std::move(m_session); }
    /// Shows the record's fields when preloaded; otherwise only resets the port to "34567".
    void preload();
    /// True while an Add login of this dialog is under way.
    bool loggingIn() const;
    /// The longest user name or password the record can carry, in bytes.
    static constexpr int CredentialLimit = int(sizeof(DEV_INFO::szPsw)) - 1;

    QLineEdit *ipEdit() const { return m_ipEdit; }
    QLineEdit *portEdit() const { return m_portEdit; }
    QLineEdit *userEdit() const { return m_userEdit; }
    QLineEdit *passwordEdit() const { return m_passwordEdit; }
    QPushButton *okButton() const { return m_okBtn; }
    QPushButton *cancelButton() const { return m_cancelBtn; }

    /// The first IPv4 address of a host name in dotted form, or the text unchanged.
    static QString resolveHost(const QString &text);

public slots:
    void OnClickedOk();
    void onClick();
    void reject() override;

private:
    void abandonLogin();

    DEV_INFO m_devInfo;
    DeviceSession m_session;
    bool m_preloaded = false;
    quint64 m_job = 0; ///< the Add login under way, 0 when none
    QString m_password;
    QLineEdit *m_ipEdit;
    QLineEdit *m_portEdit;
    QLineEdit *m_userEdit;
    QLineEdit *m_passwordEdit;
    QPushButton *m_okBtn;
    QPushButton *m_cancelBtn;
    LoginRunner *m_runner;
};
