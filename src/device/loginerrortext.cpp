#include "device/loginerrortext.h"

#include "netsdk/netsdk.h"

#include <QCoreApplication>

QString loginErrorText(int code, LoginTextVariant variant, long lastError)
{
    const bool dialog = variant == LoginTextVariant::Dialog;
    const char *text = nullptr;
    switch (code) {
    case 0:
        text = QT_TRANSLATE_NOOP("LoginDlg", "Network is error");
        break;
    case NETSDK_ERR_SYSTEM_BUSY:
        text = QT_TRANSLATE_NOOP("LoginDlg", "System is busying");
        break;
    case NETSDK_ERR_TIMEOUT:
        text = QT_TRANSLATE_NOOP("LoginDlg", "Login timeout");
        break;
    case NETSDK_ERR_PASSWORD:
        text = QT_TRANSLATE_NOOP("LoginDlg", "Password is error");
        break;
    case NETSDK_ERR_NO_USER:
        text = QT_TRANSLATE_NOOP("LoginDlg", "The user is not existed");
        break;
    case NETSDK_ERR_USER_LOCKED:
        text = QT_TRANSLATE_NOOP("LoginDlg", "The user is locked");
        break;
    case NETSDK_ERR_USER_BLACKLIST:
        text = QT_TRANSLATE_NOOP("LoginDlg", "The user is in blacklist");
        break;
    case NETSDK_ERR_USER_LOGGED_IN:
        text = dialog ? QT_TRANSLATE_NOOP("LoginDlg", "The user has logined.")
                      : QT_TRANSLATE_NOOP("LoginDlg", "The user has logined");
        break;
    case NETSDK_ERR_NO_DEVICE:
        text = dialog ? QT_TRANSLATE_NOOP("LoginDlg", "Cann't find the device.")
                      : QT_TRANSLATE_NOOP("LoginDlg", "Cann't find the device");
        break;
    default:
        break;
    }
    if (text)
        return QCoreApplication::translate("LoginDlg", text);
    const QString unknown = QCoreApplication::translate("LoginDlg", "Unknow Error");
    if (dialog)
        return unknown;
    return unknown + QStringLiteral(" nError:%1,code:%2").arg(code).arg(lastError);
}

QString loginErrorText(int code)
{
    return loginErrorText(code, LoginTextVariant::Tab, H264_DVR_GetLastError());
}
