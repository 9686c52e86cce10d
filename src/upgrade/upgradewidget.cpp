#include "upgradewidget.h"

UpgradeWidget::UpgradeWidget(QWidget *parent) : QWidget(parent) {}
