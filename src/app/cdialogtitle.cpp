#include "app/cdialogtitle.h"

#include <QIcon>
#include <QScreen>
#include <QToolButton>

CDialogTitle::CDialogTitle(QWidget *window) : CTitleBar(window) {}

void CDialogTitle::onMinimal()
{
    if (m_window)
        m_window->showMinimized();
}

void CDialogTitle::onMaxNormal(bool b)
{
    if (m_window) {
        if (m_maximized) {
            m_window->setGeometry(m_normalGeometry);
            maxButton()->setIcon(QIcon(buttonFolder() + QStringLiteral("/sys_max.png")));
            maxButton()->setToolTip(tr("Max"));
            maxButton()->setAccessibleName(tr("Maximize"));
        } else {
            m_normalGeometry = m_window->geometry();
            if (QScreen *screen = m_window->screen())
                m_window->setGeometry(screen->availableGeometry());
            maxButton()->setIcon(QIcon(buttonFolder() + QStringLiteral("/sys_normal.png")));
            maxButton()->setToolTip(tr("Normal"));
            maxButton()->setAccessibleName(tr("Restore"));
        }
    }
    m_maximized = b;
    maxButton()->setChecked(b);
}

void CDialogTitle::onClose()
{
    emit closed();
}
