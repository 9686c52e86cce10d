#include "upgradelogowidget.h"

UpgradeLogoWidget::UpgradeLogoWidget(QWidget *parent) : QWidget(parent) {}
