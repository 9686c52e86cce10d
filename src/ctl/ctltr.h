#pragma once

#include <QCoreApplication>

/// The translation context of tallowctl's own texts.
class TallowCtl
{
    Q_DECLARE_TR_FUNCTIONS(TallowCtl)
};
