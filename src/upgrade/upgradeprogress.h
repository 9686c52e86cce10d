#pragma once

#include "flash/flashprogress.h"

#include <QHash>
#include <QMutex>
#include <QString>

/// Per-device OEMID result texts of a run, keyed by table row. Written by the workers, read by the
/// SDK's callback threads, so it has a lock of its own.
class OemidResultTexts
{
public:
    void set(int row, const QString &text);
    /// The row's text, or the empty text when the row has none.
    QString value(int row) const;
    void clear();

private:
    mutable QMutex m_lock;
    QHash<int, QString> m_texts;
};
