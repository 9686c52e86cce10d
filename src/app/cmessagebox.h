#pragma once

#include <QDialog>
#include <QDialogButtonBox>
#include <QList>
#include <QStringList>

#include <functional>

class QAbstractButton;
class QFrame;
class QLabel;

/// The application's modal message box: a rounded light-grey panel (icon, text, centred buttons)
/// on a half-transparent black backing. Use the static functions; they return the index of the
/// button chosen (0, 1, 2), or -1 when the box was closed without a button.
class CMessageBox : public QDialog
{
    Q_OBJECT
public:
    enum Icon { NoIcon = 0, Information = 1, Warning = 2, Critical = 3, Question = 4 };

    CMessageBox(Icon kind, const QString &title, const QString &text,
                QDialogButtonBox::StandardButtons buttons = QDialogButtonBox::NoButton,
                QWidget *parent = nullptr);
    ~CMessageBox() override;

    // Empty button texts create no button, except button 0, which becomes "OK". The last two
    // arguments are accepted for the callers' sake and have no effect.
    static int information(QWidget *parent, const QString &title, const QString &text,
                           const QString &button0Text = QString(), const QString &button1Text = QString(),
                           const QString &button2Text = QString(), int defaultButtonNumber = 0,
                           int escapeButtonNumber = -1);
    static int warning(QWidget *parent, const QString &title, const QString &text,
                       const QString &button0Text = QString(), const QString &button1Text = QString(),
                       const QString &button2Text = QString(), int defaultButtonNumber = 0,
                       int escapeButtonNumber = -1);
    static int critical(QWidget *parent, const QString &title, const QString &text,
                        const QString &button0Text = QString(), const QString &button1Text = QString(),
                        const QString &button2Text = QString(), int defaultButtonNumber = 0,
                        int escapeButtonNumber = -1);
    static int question(QWidget *parent, const QString &title, const QString &text,
                        const QString &button0Text = QString(), const QString &button1Text = QString(),
                        const QString &button2Text = QString(), int defaultButtonNumber = 0,
                        int escapeButtonNumber = -1);

    QPushButton *addCustomButton(const QString &text);
    Icon kind() const { return m_kind; }
    QString text() const;
    QList<QAbstractButton *> customButtons() const { return m_customButtons; }
    QAbstractButton *clickedButton() const { return m_clickedButton; }
    QFrame *panel() const { return m_panel; }
    QLabel *textLabel() const { return m_label; }
    QLabel *iconLabel() const { return m_iconLabel; }

    // Test seam: a box opened by a static function is answered by the provider (or the next queued
    // answer) instead of a modal loop. The answer is a button index; -1 closes without a button.
    using AnswerProvider = std::function<int(CMessageBox &box)>;
    static void setAnswerProvider(AnswerProvider provider);
    static void setNextAnswer(int index); ///< queued; used before the provider
    static void resetTestHooks();         ///< clears answers, provider and the record below
    struct Record {
        int kind = -1;
        QString title;
        QString text;
        QStringList buttons;
        int answer = -1;
    };
    static Record lastShown(); ///< the last box a static function opened
    static int shownCount();   ///< boxes opened by static functions since resetTestHooks()

public slots:
    void _q_buttonClicked(QAbstractButton *button);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    static int showBox(Icon kind, QWidget *parent, const QString &title, const QString &text,
                       const QString &b0, const QString &b1, const QString &b2);
    void fitAndCentre();
    void placePanel();

    Icon m_kind;
    QFrame *m_panel;
    QLabel *m_label;
    QLabel *m_iconLabel;
    QDialogButtonBox *m_buttonBox;
    QList<QAbstractButton *> m_customButtons;
    QAbstractButton *m_clickedButton = nullptr;
};
