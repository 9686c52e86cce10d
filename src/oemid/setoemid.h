#pragma once

#include <QWidget>

class SetOEMID : public QWidget
{
    Q_OBJECT
public:
    explicit SetOEMID(QWidget *parent = nullptr);
};
