#include "logo/applinkfile.h"

#include <QCoreApplication>
#include <QFile>

#include <json/json.h>

QString appStoreLinkPrefix()
{
    return QStringLiteral("https://apps.apple.com/app/");
}

QString appLinkProblem(const AppLinkInput &input)
{
    if (!input.ios.isEmpty() && input.iosShown) {
        const int bytes = int((appStoreLinkPrefix() + input.ios).toUtf8().size());
        if (bytes > kAppLinkMaxBytes)
            return QCoreApplication::translate(
                       "LogoPackageBuilder", "The iOS app link is too long for the device: %1 bytes with the "
                                             "App Store address, at most %2. Please shorten it.")
                .arg(bytes)
                .arg(kAppLinkMaxBytes);
    }
    const int bytes = int(input.android.toUtf8().size());
    if (bytes > kAppLinkMaxBytes)
        return QCoreApplication::translate("LogoPackageBuilder",
                                           "The Android app link is too long for the device: %1 bytes, at "
                                           "most %2. Please shorten it.")
            .arg(bytes)
            .arg(kAppLinkMaxBytes);
    return QString();
}

QByteArray appLinkFileText(const AppLinkInput &input)
{
    Json::Value root(Json::objectValue);
    root["IOSEnable"] = input.iosShown;
    root["AndroidEnable"] = true;
    root["SNEnable"] = true;
    root["OtherEnable"] = false;
    if (!input.ios.isEmpty() && input.iosShown)
        root["IOSLink"] = (appStoreLinkPrefix() + input.ios).toUtf8().toStdString();
    if (!input.android.isEmpty())
        root["AndroidLink"] = input.android.toUtf8().toStdString();
    // The styled writer's layout (three-blank indent, " : ", a line feed at the end), but links are
    // written as typed, in UTF-8: the styled writer itself would turn every non-ASCII character
    // into a \u escape.
    Json::StreamWriterBuilder builder;
    builder["indentation"] = "   ";
    builder["emitUTF8"] = true;
    builder["commentStyle"] = "None";
    const std::string text = Json::writeString(builder, root) + "\n";
    return QByteArray(text.data(), int(text.size()));
}

int makeAppLinkFile(const QString &strFileName, const AppLinkInput &input)
{
    QFile file(strFileName);
    if (!file.open(QIODevice::ReadWrite | QIODevice::Truncate))
        return 0;
    const QByteArray text = appLinkFileText(input);
    if (file.write(text) != text.size())
        return 0;
    return file.flush() ? 1 : 0;
}
