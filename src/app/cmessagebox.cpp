#include "app/cmessagebox.h"

#include <QBitmap>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QQueue>
#include <QScreen>
#include <QTextDocument>

// Outside any namespace, as Q_INIT_RESOURCE requires. Referencing the initialiser also keeps the
// resource object in links that go through static libraries.
static void initResources()
{
    static const bool done = [] {
        Q_INIT_RESOURCE(tallow_resources);
        return true;
    }();
    Q_UNUSED(done);
}

namespace
{

struct Hooks {
    QQueue<int> answers;
    CMessageBox::AnswerProvider provider;
    CMessageBox::Record last;
    int count = 0;
};

Hooks &hooks()
{
    static Hooks h;
    return h;
}

QString iconPath(CMessageBox::Icon kind)
{
    switch (kind) {
    case CMessageBox::Information:
        return QStringLiteral(":/VelaUpgrade/Res/infomation.png");
    case CMessageBox::Warning:
    case CMessageBox::Critical:
        return QStringLiteral(":/VelaUpgrade/Res/error.png");
    case CMessageBox::Question:
        return QStringLiteral(":/VelaUpgrade/Res/question.png");
    case CMessageBox::NoIcon:
        break;
    }
    return QString();
}

} // namespace

CMessageBox::CMessageBox(Icon kind, const QString &title, const QString &text,
                         QDialogButtonBox::StandardButtons buttons, QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint), m_kind(kind),
      // A window of its own (so the rounded mask applies to it) that belongs to the box: the box's
      // modality does not block it and it goes away with the box.
      m_panel(new QFrame(this, Qt::Window | Qt::FramelessWindowHint)), m_label(new QLabel(m_panel)),
      m_iconLabel(new QLabel(m_panel)), m_buttonBox(new QDialogButtonBox(m_panel))
{
    m_panel->setObjectName(QStringLiteral("msgboxex_panel"));
    m_panel->setMinimumWidth(250);
    m_panel->installEventFilter(this);

    m_label->setObjectName(QStringLiteral("qt_msgbox_label"));
    m_label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_label->setOpenExternalLinks(true);
    m_label->setContentsMargins(2, 0, 30, 0);
    m_label->setIndent(9);
    m_label->setTextInteractionFlags(Qt::TextBrowserInteraction);

    m_iconLabel->setObjectName(QStringLiteral("msgboxex_icon_label"));
    m_iconLabel->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);

    m_buttonBox->setObjectName(QStringLiteral("msgbox_buttonbox"));
    m_buttonBox->setCenterButtons(true);
    m_buttonBox->setStandardButtons(buttons);
    connect(m_buttonBox, &QDialogButtonBox::clicked, this, &CMessageBox::_q_buttonClicked);

    auto *grid = new QGridLayout(m_panel);
    grid->addWidget(m_iconLabel, 0, 0, Qt::AlignTop);
    grid->addWidget(m_label, 0, 1);
    grid->setRowStretch(1, 100);
    auto *line = new QFrame(m_panel);
    line->setFrameShape(QFrame::HLine);
    line->setFrameShadow(QFrame::Sunken);
    grid->addWidget(line, 2, 0, 1, 2);
    grid->addWidget(m_buttonBox, 3, 0, 1, 2);

    if (!title.isEmpty() || !text.isEmpty()) {
        setWindowTitle(title);
        m_panel->setWindowTitle(title);
        m_label->setText(text);
        m_label->setWordWrap(Qt::mightBeRichText(text));
    }

    initResources();
    const QString icon = iconPath(kind);
    if (!icon.isEmpty())
        m_iconLabel->setPixmap(QPixmap(icon));

    fitAndCentre();
    setModal(true);
    setWindowOpacity(0.5);
}

CMessageBox::~CMessageBox() = default;

QString CMessageBox::text() const
{
    return m_label->text();
}

QPushButton *CMessageBox::addCustomButton(const QString &text)
{
    QPushButton *b = m_buttonBox->addButton(text, QDialogButtonBox::ActionRole);
    m_customButtons.append(b);
    fitAndCentre();
    return b;
}

void CMessageBox::fitAndCentre()
{
    m_panel->adjustSize();
    QRect area;
    if (QWidget *p = parentWidget())
        area = p->window()->geometry();
    else if (QScreen *s = screen())
        area = s->geometry();
    const QSize size = m_panel->size();
    setGeometry(area.left() + (area.width() - size.width()) / 2,
                area.top() + (area.height() - size.height()) / 2, size.width(), size.height());
}

void CMessageBox::placePanel()
{
    const QPoint centre = geometry().center();
    m_panel->move(centre.x() - m_panel->width() / 2, centre.y() - m_panel->height() / 2);
}

void CMessageBox::_q_buttonClicked(QAbstractButton *button)
{
    m_panel->hide();
    m_clickedButton = button;
    const QDialogButtonBox::StandardButton standard = m_buttonBox->standardButton(button);
    done(standard != QDialogButtonBox::NoButton ? int(standard) : int(m_customButtons.indexOf(button)));
}

bool CMessageBox::eventFilter(QObject *watched, QEvent *event)
{
    if (watched != m_panel)
        return QDialog::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::Paint: {
        QPainter p(m_panel);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(QColor(200, 200, 200));
        p.setBrush(QColor(240, 240, 240));
        p.drawRoundedRect(m_panel->rect().adjusted(0, 0, -1, -1), 5, 5);
        return true;
    }
    case QEvent::Resize: {
        const int w = m_panel->width();
        const int h = m_panel->height();
        QPainterPath path;
        path.moveTo(6, 0);
        path.arcTo(0, 0, 12, 12, 90, 90);
        path.lineTo(0, h - 6);
        path.arcTo(0, h - 12, 12, 12, 180, 90);
        path.lineTo(w - 6, h);
        path.arcTo(w - 12, h - 12, 12, 12, 270, 90);
        path.lineTo(w, 6);
        path.arcTo(w - 12, 0, 12, 12, 0, 90);
        path.closeSubpath();
        QBitmap mask(m_panel->size());
        mask.fill(Qt::color0);
        QPainter p(&mask);
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::color1);
        p.drawPath(path);
        p.end();
        m_panel->setMask(mask);
        break;
    }
    case QEvent::KeyPress: {
        // The panel has the keyboard focus, not the box: give it the keys a dialog understands.
        auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Escape) {
            m_panel->hide();
            reject();
            return true;
        }
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            auto *focused = qobject_cast<QAbstractButton *>(m_panel->focusWidget());
            if (!focused && !m_buttonBox->buttons().isEmpty())
                focused = m_buttonBox->buttons().constFirst();
            if (focused)
                focused->click();
            return true;
        }
        break;
    }
    case QEvent::Close:
        // Closing the panel window closes the box without an answer.
        reject();
        break;
    default:
        break;
    }
    return QDialog::eventFilter(watched, event);
}

void CMessageBox::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), Qt::black);
}

void CMessageBox::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    placePanel();
}

void CMessageBox::moveEvent(QMoveEvent *event)
{
    QDialog::moveEvent(event);
    placePanel();
}

void CMessageBox::showEvent(QShowEvent *event)
{
    fitAndCentre();
    QDialog::showEvent(event);
    placePanel();
    m_panel->show();
    m_panel->raise();
    m_panel->activateWindow();
    if (!m_customButtons.isEmpty())
        m_customButtons.constFirst()->setFocus();
    else if (!m_buttonBox->buttons().isEmpty())
        m_buttonBox->buttons().constFirst()->setFocus();
}

void CMessageBox::hideEvent(QHideEvent *event)
{
    m_panel->hide();
    QDialog::hideEvent(event);
}

int CMessageBox::showBox(Icon kind, QWidget *parent, const QString &title, const QString &text,
                         const QString &b0, const QString &b1, const QString &b2)
{
    CMessageBox box(kind, title, text, QDialogButtonBox::NoButton, parent);
    box.addCustomButton(b0.isEmpty() ? tr("OK") : b0);
    if (!b1.isEmpty())
        box.addCustomButton(b1);
    if (!b2.isEmpty())
        box.addCustomButton(b2);

    Hooks &h = hooks();
    Record rec;
    rec.kind = kind;
    rec.title = title;
    rec.text = text;
    for (QAbstractButton *b : std::as_const(box.m_customButtons))
        rec.buttons.append(b->text());
    ++h.count;

    int answer = -1;
    if (!h.answers.isEmpty() || h.provider) {
        const int wanted = !h.answers.isEmpty() ? h.answers.dequeue() : h.provider(box);
        if (wanted >= 0 && wanted < box.m_customButtons.size())
            box._q_buttonClicked(box.m_customButtons.at(wanted));
    } else {
        box.exec();
    }
    // Closing without a button (escape, window close) must never read as the affirmative index 0.
    if (box.m_clickedButton)
        answer = box.result();
    rec.answer = answer;
    h.last = rec;
    return answer;
}

int CMessageBox::information(QWidget *parent, const QString &title, const QString &text,
                             const QString &button0Text, const QString &button1Text,
                             const QString &button2Text, int, int)
{
    return showBox(Information, parent, title, text, button0Text, button1Text, button2Text);
}

int CMessageBox::warning(QWidget *parent, const QString &title, const QString &text,
                         const QString &button0Text, const QString &button1Text, const QString &button2Text,
                         int, int)
{
    return showBox(Warning, parent, title, text, button0Text, button1Text, button2Text);
}

int CMessageBox::critical(QWidget *parent, const QString &title, const QString &text,
                          const QString &button0Text, const QString &button1Text, const QString &button2Text,
                          int, int)
{
    return showBox(Critical, parent, title, text, button0Text, button1Text, button2Text);
}

int CMessageBox::question(QWidget *parent, const QString &title, const QString &text,
                          const QString &button0Text, const QString &button1Text, const QString &button2Text,
                          int, int)
{
    return showBox(Question, parent, title, text, button0Text, button1Text, button2Text);
}

void CMessageBox::setAnswerProvider(AnswerProvider provider)
{
    hooks().provider = std::move(provider);
}

void CMessageBox::setNextAnswer(int index)
{
    hooks().answers.enqueue(index);
}

void CMessageBox::resetTestHooks()
{
    hooks() = Hooks();
}

CMessageBox::Record CMessageBox::lastShown()
{
    return hooks().last;
}

int CMessageBox::shownCount()
{
    return hooks().count;
}
