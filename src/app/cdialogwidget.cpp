#include "app/cdialogwidget.h"

#include "app/cdialogtitle.h"

#include <QScreen>
#include <QShowEvent>
#include <QToolButton>
#include <QVBoxLayout>

CDialogWidget::CDialogWidget(QWidget *parent, const QString &title, const QString &buttonFolder,
                             bool hideMaxButton)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint), m_layout(new QVBoxLayout(this)),
      m_titleBar(new CDialogTitle(this))
{
    setObjectName(QStringLiteral("CDialogWidget"));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(0);

    m_titleBar->setMinButtonHidden(true);
    m_titleBar->setTextColor(Qt::black);
    m_titleBar->setButtons(buttonFolder,
                           CTitleBar::CloseButton | CTitleBar::MaxButton | CTitleBar::MinButton);
    // setButtons shows the buttons by mask; the minimise button stays hidden on dialogs.
    m_titleBar->minButton()->hide();
    if (hideMaxButton)
        m_titleBar->maxButton()->hide();
    m_titleBar->setFixedHeight(45);
    m_titleBar->setTitle(title);

    m_titleBar->setObjectName(QStringLiteral("DlgTitle"));
    setStyleSheet(QStringLiteral("#DlgTitle{border:1px solid rgb(40,40,40);}"));
    m_layout->addWidget(m_titleBar);

    connect(m_titleBar, &CDialogTitle::closed, this, &CDialogWidget::on_closed_slots);
}

CDialogWidget::~CDialogWidget() = default;

void CDialogWidget::on_closed_slots()
{
    reject();
}

void CDialogWidget::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
}

void CDialogWidget::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (QScreen *s = screen()) {
        const QRect desk = s->geometry();
        move(desk.x() + (desk.width() - width()) / 2, desk.y() + (desk.height() - height()) / 2);
    }
}
