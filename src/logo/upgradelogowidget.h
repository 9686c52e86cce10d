#pragma once

#include <QWidget>

class UpgradeLogoWidget : public QWidget
{
    Q_OBJECT
public:
    explicit UpgradeLogoWidget(QWidget *parent = nullptr);
};
