#pragma once

#include <QWidget>

class UpgradeWidget : public QWidget
{
    Q_OBJECT
public:
    explicit UpgradeWidget(QWidget *parent = nullptr);
};
