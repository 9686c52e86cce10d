#include "ctlconfig.h"

#include "ctltr.h"

#include <QCommandLineParser>
#include <QFile>
#include <QTemporaryDir>

namespace CtlConfig
{

const std::vector<Flag> &flags()
{
    static const std::vector<Flag> table = {
        {Key::Solution, "solution", QT_TRANSLATE_NOOP("TallowCtl", "name"),
         QT_TRANSLATE_NOOP("TallowCtl", "[themes] Solution: SimpChinese for Chinese texts")},
        {Key::ModifyIP, "modify-ip", QT_TRANSLATE_NOOP("TallowCtl", "0|1"),
         QT_TRANSLATE_NOOP("TallowCtl", "[UpgradeInfo] ModifyIP: change each device's address first")},
        {Key::StartIndex, "start-index", QT_TRANSLATE_NOOP("TallowCtl", "n"),
         QT_TRANSLATE_NOOP("TallowCtl", "[UpgradeInfo] StartIndex: last address byte = row + n")},
        {Key::Verify, "verify", QT_TRANSLATE_NOOP("TallowCtl", "0|1"),
         QT_TRANSLATE_NOOP("TallowCtl",
                           "[UpgradeInfo] Verify: check each device's version after its restart")},
        {Key::VerifyTimeout, "verify-timeout", QT_TRANSLATE_NOOP("TallowCtl", "seconds"),
         QT_TRANSLATE_NOOP("TallowCtl", "[UpgradeInfo] VerifyTimeout: time a device has to come back")},
        {Key::StartSpacingMs, "spacing-ms", QT_TRANSLATE_NOOP("TallowCtl", "ms"),
         QT_TRANSLATE_NOOP("TallowCtl", "[UpgradeInfo] StartSpacingMs: between two device starts")},
        {Key::MaxParallel, "max-parallel", QT_TRANSLATE_NOOP("TallowCtl", "n"),
         QT_TRANSLATE_NOOP("TallowCtl", "[UpgradeInfo] MaxParallel: devices in flight at once")},
        {Key::WavesEnabled, "waves", QT_TRANSLATE_NOOP("TallowCtl", "0|1"),
         QT_TRANSLATE_NOOP("TallowCtl", "[Waves] Enabled: check every device, then upgrade in waves")},
        {Key::WavesFirst, "wave-first", QT_TRANSLATE_NOOP("TallowCtl", "n|n%"),
         QT_TRANSLATE_NOOP("TallowCtl", "[Waves] First: devices of the first wave")},
        {Key::WavesGrowth, "wave-growth", QT_TRANSLATE_NOOP("TallowCtl", "xF|+n"),
         QT_TRANSLATE_NOOP("TallowCtl", "[Waves] Growth: each next wave's size")},
        {Key::WavesHalt, "wave-halt", QT_TRANSLATE_NOOP("TallowCtl", "n|n%"),
         QT_TRANSLATE_NOOP("TallowCtl", "[Waves] Halt: failures of one wave that halt the run")},
        {Key::AppLinkIOS, "app-link-ios", QT_TRANSLATE_NOOP("TallowCtl", "link"),
         QT_TRANSLATE_NOOP("TallowCtl", "[AppLink] IOS: the iOS app link")},
        {Key::AppLinkAndroid, "app-link-android", QT_TRANSLATE_NOOP("TallowCtl", "link"),
         QT_TRANSLATE_NOOP("TallowCtl", "[AppLink] Android: the Android app link")},
        {Key::LogoBoot, "logo-boot", QT_TRANSLATE_NOOP("TallowCtl", "file"),
         QT_TRANSLATE_NOOP("TallowCtl", "[Logo] Boot: the boot picture")},
        {Key::LogoClose, "logo-close", QT_TRANSLATE_NOOP("TallowCtl", "file"),
         QT_TRANSLATE_NOOP("TallowCtl", "[Logo] Close: the shutdown picture")},
        {Key::LogoLoss, "logo-loss", QT_TRANSLATE_NOOP("TallowCtl", "file"),
         QT_TRANSLATE_NOOP("TallowCtl", "[Logo] Loss: the video-loss picture")},
        {Key::LogoBlind, "logo-blind", QT_TRANSLATE_NOOP("TallowCtl", "file"),
         QT_TRANSLATE_NOOP("TallowCtl", "[Logo] Blind: the blind picture")},
        {Key::OemidSetEn, "set-oemid", QT_TRANSLATE_NOOP("TallowCtl", "0|1"),
         QT_TRANSLATE_NOOP("TallowCtl", "[OEMID] SetEn: write the OEMID before flashing")},
        {Key::OemidRepeatEn, "allow-repeat", QT_TRANSLATE_NOOP("TallowCtl", "0|1"),
         QT_TRANSLATE_NOOP("TallowCtl", "[OEMID] RepeatEn: allow an OEMID to be written again")},
        {Key::OemidAssigned, "oemid-assigned", QT_TRANSLATE_NOOP("TallowCtl", "oemid"),
         QT_TRANSLATE_NOOP("TallowCtl", "[OEMID] Assigned: the OEMID written into devices")},
        {Key::UploadHost, "upload-host", QT_TRANSLATE_NOOP("TallowCtl", "host"),
         QT_TRANSLATE_NOOP("TallowCtl", "[Upload] Host: the factory-record service")},
        {Key::UploadPort, "upload-port", QT_TRANSLATE_NOOP("TallowCtl", "port"),
         QT_TRANSLATE_NOOP("TallowCtl", "[Upload] Port: its HTTPS port")},
        {Key::UploadCAFile, "upload-ca-file", QT_TRANSLATE_NOOP("TallowCtl", "file"),
         QT_TRANSLATE_NOOP("TallowCtl", "[Upload] CAFile: the CA that signs the service's certificate")},
    };
    return table;
}

const Flag *flagOf(Key key)
{
    for (const Flag &f : flags())
        if (f.key == key)
            return &f;
    return nullptr;
}

void addOptions(QCommandLineParser &parser, const std::vector<Key> &keys)
{
    for (Key key : keys)
        if (const Flag *f = flagOf(key))
            parser.addOption(QCommandLineOption(QString::fromLatin1(f->name),
                                                QCoreApplication::translate("TallowCtl", f->description),
                                                QCoreApplication::translate("TallowCtl", f->valueName)));
}

bool normalise(Key key, const QString &text, QString *value, QString *error)
{
    const KeyInfo &info = ConfigKeys::info(key);
    const QString name = QString::fromLatin1(flagOf(key) ? flagOf(key)->name : info.name);
    switch (info.type) {
    case KeyInfo::Switch: {
        const QString t = text.trimmed().toLower();
        if (t == QLatin1String("1") || t == QLatin1String("on") || t == QLatin1String("yes") ||
            t == QLatin1String("true")) {
            *value = QStringLiteral("1");
            return true;
        }
        if (t == QLatin1String("0") || t == QLatin1String("off") || t == QLatin1String("no") ||
            t == QLatin1String("false")) {
            *value = QStringLiteral("0");
            return true;
        }
        *error = TallowCtl::tr("--%1 takes 0 or 1, not \"%2\"").arg(name, text);
        return false;
    }
    case KeyInfo::Int: {
        bool ok = false;
        const int n = text.trimmed().toInt(&ok);
        if (!ok) {
            *error = TallowCtl::tr("--%1 takes a whole number, not \"%2\"").arg(name, text);
            return false;
        }
        *value = QString::number(n);
        return true;
    }
    case KeyInfo::String:
        *value = text;
        return true;
    }
    return false;
}

bool apply(const QCommandLineParser &parser, const std::vector<Key> &keys, QTemporaryDir &scratch,
           QString *error)
{
    std::vector<std::pair<Key, QString>> given;
    for (Key key : keys) {
        const Flag *f = flagOf(key);
        if (!f || !parser.isSet(QString::fromLatin1(f->name)))
            continue;
        QString value;
        if (!normalise(key, parser.value(QString::fromLatin1(f->name)), &value, error))
            return false;
        given.emplace_back(key, value);
    }
    if (given.empty())
        return true;
    if (!scratch.isValid()) {
        *error = TallowCtl::tr("No place for a private copy of Config.ini: %1").arg(scratch.errorString());
        return false;
    }
    const QString copy = scratch.filePath(QStringLiteral("Config.ini"));
    const QString original = ConfigKeys::configPath();
    QFile::remove(copy);
    if (QFile::exists(original) && !QFile::copy(original, copy)) {
        *error = TallowCtl::tr("Cannot copy %1 to %2").arg(original, copy);
        return false;
    }
    QFile::setPermissions(copy, QFile::ReadOwner | QFile::WriteOwner);
    ConfigKeys::setConfigPath(copy);
    for (const auto &[key, value] : given) {
        const IniResult r = ConfigKeys::setString(key, value);
        if (!r.ok) {
            *error = TallowCtl::tr("Cannot write %1: %2").arg(copy, r.error);
            return false;
        }
    }
    return true;
}

} // namespace CtlConfig
