// Every operator-visible text under src/ must have a finished Simplified Chinese translation in one of
// the catalogues in src/resources/translations. The catalogues are merged, lupdate adds what the
// sources hold today, and every message left unfinished is listed with its place in the sources.
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <gtest/gtest.h>

namespace
{

QString run(const QString &program, const QStringList &args, bool *ok)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    *ok = p.waitForFinished(300000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    return QString::fromLocal8Bit(p.readAll());
}

struct Missing {
    QString context, source, location;
};

QList<Missing> unfinished(const QString &tsPath)
{
    QList<Missing> out;
    QFile f(tsPath);
    if (!f.open(QIODevice::ReadOnly))
        return {{QStringLiteral("?"), QStringLiteral("cannot read merged catalogue"), tsPath}};
    QXmlStreamReader xml(&f);
    QString context, source, location, translation;
    bool isUnfinished = false, inMessage = false;
    while (!xml.atEnd()) {
        xml.readNext();
        if (xml.isStartElement()) {
            const auto name = xml.name();
            if (name == QLatin1String("name") && !inMessage) {
                context = xml.readElementText();
            } else if (name == QLatin1String("message")) {
                inMessage = true;
                source.clear();
                location.clear();
                translation.clear();
                isUnfinished = false;
            } else if (name == QLatin1String("location") && location.isEmpty()) {
                // Locations are relative to the catalogue's directory.
                location = QDir::cleanPath(QFileInfo(tsPath).dir().absoluteFilePath(
                               xml.attributes().value(QLatin1String("filename")).toString())) +
                           QLatin1Char(':') + xml.attributes().value(QLatin1String("line")).toString();
            } else if (name == QLatin1String("source")) {
                source = xml.readElementText();
            } else if (name == QLatin1String("translation")) {
                const auto type = xml.attributes().value(QLatin1String("type"));
                isUnfinished = type == QLatin1String("unfinished");
                if (type == QLatin1String("vanished") || type == QLatin1String("obsolete"))
                    inMessage = false; // no longer in the sources
                translation = xml.readElementText(QXmlStreamReader::IncludeChildElements);
            }
        } else if (xml.isEndElement() && xml.name() == QLatin1String("message")) {
            if (inMessage && (isUnfinished || translation.trimmed().isEmpty()))
                out.append({context, source, location});
            inMessage = false;
        }
    }
    if (xml.hasError())
        out.append({QStringLiteral("?"), xml.errorString(), tsPath});
    return out;
}

TEST(Translations, EverySourceTextHasAFinishedChineseTranslation)
{
    const QString src = QStringLiteral(TALLOW_SOURCE_DIR "/src");
    const QDir tsDir(src + QStringLiteral("/resources/translations"));
    const QStringList catalogues = tsDir.entryList({QStringLiteral("*.ts")}, QDir::Files, QDir::Name);
    ASSERT_FALSE(catalogues.isEmpty());

    QTemporaryDir tmp;
    const QString merged = tmp.filePath(QStringLiteral("merged_zh.ts"));
    QStringList args;
    for (const QString &ts : catalogues)
        args << QStringLiteral("-i") << tsDir.filePath(ts);
    args << QStringLiteral("-target-language") << QStringLiteral("zh_CN") << QStringLiteral("-o") << merged;
    bool ok = false;
    QString log = run(QStringLiteral(LCONVERT), args, &ok);
    ASSERT_TRUE(ok) << log.toStdString();

    log = run(QStringLiteral(LUPDATE),
              {QStringLiteral("-recursive"), QStringLiteral("-no-obsolete"), QStringLiteral("-locations"),
               QStringLiteral("absolute"), QStringLiteral("-I"), src, src, QStringLiteral("-ts"), merged},
              &ok);
    ASSERT_TRUE(ok) << log.toStdString();

    const QList<Missing> missing = unfinished(merged);
    std::string listing;
    for (const Missing &m : missing)
        listing += QStringLiteral("  %1: \"%2\"  (%3)\n")
                       .arg(m.context, m.source,
                            QDir(QStringLiteral(TALLOW_SOURCE_DIR)).relativeFilePath(m.location))
                       .toStdString();
    EXPECT_TRUE(missing.isEmpty()) << missing.size() << " source text(s) without a finished translation:\n"
                                   << listing;
}

} // namespace
