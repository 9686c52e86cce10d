#pragma once

#include "app/ctitlebar.h"

/// The title bar of the main window and of dialogs: minimise, maximise to the screen's work area
/// and back, and a closed() signal for the close button.
class CDialogTitle : public CTitleBar
{
    Q_OBJECT
public:
    explicit CDialogTitle(QWidget *window);
    using CTitleBar::onMaxNormal;

signals:
    void closed();

public slots:
    void onMinimal() override;
    void onMaxNormal(bool b) override;
    void onClose() override;
};
