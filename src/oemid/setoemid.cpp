#include "setoemid.h"

SetOEMID::SetOEMID(QWidget *parent) : QWidget(parent) {}
