#pragma once

#include <QWidget>

namespace Ui
{
class CTallowClass;
}
class CDialogTitle;
class QAction;
class QTabWidget;
class SetOEMID;
class UpgradeLogoWidget;
class UpgradeWidget;

/// The single top-level window: frameless, its own title bar, and the three work tabs (logo,
/// firmware upgrade, OEMID). Quitting goes only through the title bar's close button and a question.
class CTallow : public QWidget
{
    Q_OBJECT
public:
    explicit CTallow(QWidget *parent = nullptr, Qt::WindowFlags flags = {});
    ~CTallow() override;

    CDialogTitle *titleBar() const { return m_titleBar; }
    QTabWidget *tabWidget() const;
    QString applicationDir() const { return m_appDir; }
    /// "About Tallow" (F1, and the title bar's context menu): the version and where files live.
    QAction *aboutAction() const { return m_about; }

public slots:
    void onClose();
    void showAbout();

protected:
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    bool confirmQuit();
    void centreOnScreen();

    Ui::CTallowClass *ui;
    QString m_appDir;
    CDialogTitle *m_titleBar = nullptr;
    QAction *m_about = nullptr;
    UpgradeLogoWidget *m_logoTab = nullptr;
    UpgradeWidget *m_upgradeTab = nullptr;
    SetOEMID *m_oemidTab = nullptr;
    bool m_quitConfirmed = false;
};
