#pragma once

#include <QByteArray>
#include <QString>

/** What the logo tab's app-link fields hold. */
struct AppLinkInput {
    QString android;       ///< `lineEditAndroid`, as typed
    QString ios;           ///< `lineEditIOS`, the part after the App Store prefix
    bool iosShown = false; ///< whether the iOS row is shown (the device takes separate links)
};

/** The App Store address that the iOS field continues; the tab shows it in `labelIosLink`. */
QString appStoreLinkPrefix();

/** The longest link a device takes, in UTF-8 bytes: it keeps each link of the file in a 256-byte
 *  field of its app-link record (command 186: a flag word and two such fields), with the field's
 *  terminating zero. */
constexpr int kAppLinkMaxBytes = 255;

/** Empty when every link the file would carry fits the device; otherwise the operator's text naming
 *  the link that does not (the link is refused, never cut). */
QString appLinkProblem(const AppLinkInput &input);

/** The app-link file's text: one JSON object as jsoncpp's styled writer lays it out. */
QByteArray appLinkFileText(const AppLinkInput &input);

/** Creates or truncates `strFileName` and writes the app-link file: 1 on success, 0 when the file
 *  cannot be written. */
int makeAppLinkFile(const QString &strFileName, const AppLinkInput &input);
