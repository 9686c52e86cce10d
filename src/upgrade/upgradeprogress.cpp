#include "upgradeprogress.h"

void OemidResultTexts::set(int row, const QString &text)
{
    QMutexLocker locker(&m_lock);
    m_texts.insert(row, text);
}

QString OemidResultTexts::value(int row) const
{
    QMutexLocker locker(&m_lock);
    return m_texts.value(row);
}

void OemidResultTexts::clear()
{
    QMutexLocker locker(&m_lock);
    m_texts.clear();
}
