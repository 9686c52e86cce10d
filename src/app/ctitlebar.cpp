#include "app/ctitlebar.h"

#include <QIcon>
#include <QMouseEvent>
#include <QPainter>
#include <QToolButton>

CTitleBar::CTitleBar(QWidget *window)
    : QFrame(window), m_window(window), m_title(QStringLiteral("test title")),
      m_btnMin(new QToolButton(this)), m_btnMax(new QToolButton(this)), m_btnClose(new QToolButton(this))
{
    const struct {
        QToolButton *button;
        const char *name;
        QString tip;
        QString accessibleName;
    } buttons[] = {{m_btnMin, "SysMin", tr("Min"), tr("Minimize")},
                   {m_btnMax, "SysMax", tr("Max"), tr("Maximize")},
                   {m_btnClose, "SysClose", tr("Close"), tr("Close")}};
    for (const auto &b : buttons) {
        b.button->setObjectName(QLatin1String(b.name));
        b.button->setToolTip(b.tip);
        // The buttons show only a picture: a screen reader needs a name.
        b.button->setAccessibleName(b.accessibleName);
        b.button->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        b.button->setFocusPolicy(Qt::NoFocus);
    }
    setStyleSheet(QStringLiteral("QToolButton#SysClose,#SysMax,#SysMin{background-color:rgba(0,0,0,0);}"));
    connect(m_btnMin, &QToolButton::clicked, this, [this] { onMinimal(); });
    connect(m_btnMax, &QToolButton::clicked, this, [this](bool checked) { onMaxNormal(checked); });
    connect(m_btnClose, &QToolButton::clicked, this, [this] { onClose(); });
}

CTitleBar::~CTitleBar() = default;

void CTitleBar::setTitle(const QString &title)
{
    m_title = title;
    if (m_window)
        m_window->setWindowTitle(title);
    update();
}

void CTitleBar::setTextColor(const QColor &color)
{
    m_textColor = color;
    update();
}

void CTitleBar::setMinButtonHidden(bool hidden)
{
    m_btnMin->setHidden(hidden);
    m_doubleClickDisabled = hidden;
}

void CTitleBar::setButtons(const QString &folder, int mask)
{
    setObjectName(QStringLiteral("DlgTitleBar"));
    for (QToolButton *b : {m_btnMin, m_btnMax, m_btnClose}) {
        b->setFixedSize(m_buttonSize);
        b->setIconSize(m_buttonSize);
    }
    // A missing image gives an empty icon: the button still works, it just shows no picture.
    m_btnMin->setIcon(QIcon(folder + QStringLiteral("/sys_min.png")));
    m_btnMax->setIcon(QIcon(folder + QStringLiteral("/sys_max.png")));
    m_btnMax->setCheckable(true);
    m_btnClose->setIcon(QIcon(folder + QStringLiteral("/sys_cls.png")));
    m_btnClose->setVisible(mask & CloseButton);
    m_btnMax->setVisible(mask & MaxButton);
    m_btnMin->setVisible(mask & MinButton);
    m_buttonFolder = folder;
    m_alignment = Qt::AlignCenter;
    update();
}

void CTitleBar::setIcon(const QPixmap &icon)
{
    m_icon = icon;
    update();
}

void CTitleBar::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && m_window) {
        m_dragging = true;
        m_pressWindowPos = m_window->pos();
        m_pressGlobalPos = event->globalPosition().toPoint();
    }
    QFrame::mousePressEvent(event);
}

void CTitleBar::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        m_dragging = false;
    QFrame::mouseReleaseEvent(event);
}

void CTitleBar::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && !m_doubleClickDisabled)
        onMaxNormal(!m_maximized);
    QFrame::mouseDoubleClickEvent(event);
}

void CTitleBar::mouseMoveEvent(QMouseEvent *event)
{
    if (m_dragging && !m_maximized && m_window)
        m_window->move(m_pressWindowPos + event->globalPosition().toPoint() - m_pressGlobalPos);
    QFrame::mouseMoveEvent(event);
}

void CTitleBar::paintEvent(QPaintEvent *event)
{
    QFrame::paintEvent(event);
    QPainter p(this);
    if (!m_icon.isNull())
        p.drawPixmap(1, (height() - 23) / 2, 23, 23, m_icon);
    QFont f = p.font();
    f.setPointSize(12);
    f.setBold(true);
    p.setFont(f);
    p.setPen(m_textColor);
    p.drawText(rect(), int(m_alignment), m_title);
}

void CTitleBar::resizeEvent(QResizeEvent *event)
{
    QFrame::resizeEvent(event);
    const int bw = m_buttonSize.width();
    const int bh = m_buttonSize.height();
    const int y = (height() - bh) / 2;
    const int closeX = width() - 5 - bw;
    m_btnClose->setGeometry(closeX, y, bw, bh);
    m_btnMax->setGeometry(closeX - bw - 2, y, bw, bh);
    m_btnMin->setGeometry(closeX - 2 * (bw + 2), y, bw, bh);
}
