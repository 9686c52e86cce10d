#pragma once

#include <QString>

class QCoreApplication;

/// The start-up steps of main() that need no window.
namespace Startup
{

/// Loads language/tallow_zh.qm and language/SimpChinese_Qt.qm from appDir when solution is exactly
/// "SimpChinese"; the translators stay installed for the application's life. A catalogue that does
/// not load is skipped. Returns how many catalogues were installed.
int installTranslators(QCoreApplication &app, const QString &appDir, const QString &solution);

/// appDir/skin/style.css with every "@skinpath" replaced by appDir; empty when the file does not open.
QString loadStyleSheet(const QString &appDir);

} // namespace Startup
