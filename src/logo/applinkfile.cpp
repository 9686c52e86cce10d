#include "logo/applinkfile.h"

#include <QFile>

#include <json/json.h>

QString appStoreLinkPrefix()
{
    return QStringLiteral("https://apps.apple.com/app/");
}

QByteArray appLinkFileText(const AppLinkInput &input)
{
    Json::Value root(Json::objectValue);
    root["IOSEnable"] = input.iosShown;
    root["AndroidEnable"] = true;
    root["SNEnable"] = true;
    root["OtherEnable"] = false;
    if (!input.ios.isEmpty() && input.iosShown)
        root["IOSLink"] = (appStoreLinkPrefix() + input.ios).toLocal8Bit().toStdString();
    if (!input.android.isEmpty())
        root["AndroidLink"] = input.android.toLocal8Bit().toStdString();
    // The device reads exactly this layout, so the styled writer stays despite its deprecation.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    Json::StyledWriter writer;
    const std::string text = writer.write(root);
#pragma GCC diagnostic pop
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
