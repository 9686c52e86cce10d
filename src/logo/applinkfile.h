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

/** The app-link file's text: one JSON object as jsoncpp's styled writer lays it out. */
QByteArray appLinkFileText(const AppLinkInput &input);

/** Creates or truncates `strFileName` and writes the app-link file: 1 on success, 0 when the file
 *  cannot be written. */
int makeAppLinkFile(const QString &strFileName, const AppLinkInput &input);
