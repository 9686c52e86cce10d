#pragma once

#include <QColor>
#include <QFrame>
#include <QPixmap>
#include <QPoint>
#include <QRect>
#include <QSize>

class QToolButton;

/// Title bar of a frameless window: title text, optional icon, minimise, maximise/restore and close
/// buttons, and dragging the window it belongs to. What the buttons do is left to subclasses.
class CTitleBar : public QFrame
{
    Q_OBJECT
public:
    enum ButtonMask { CloseButton = 1, MaxButton = 2, MinButton = 4 };

    /// window: the widget the bar moves, maximises and minimises.
    explicit CTitleBar(QWidget *window);
    ~CTitleBar() override;

    void setTextColor(const QColor &color);
    QColor textColor() const { return m_textColor; }
    /// Hides or shows the minimise button; a bar without it also ignores double-clicks.
    void setMinButtonHidden(bool hidden);
    bool isDoubleClickDisabled() const { return m_doubleClickDisabled; }
    /// Button images from folder (sys_min.png, sys_max.png, sys_cls.png); mask bits: 1 close,
    /// 2 maximise, 4 minimise.
    void setButtons(const QString &folder, int mask);
    QString buttonFolder() const { return m_buttonFolder; }
    void setIcon(const QPixmap &icon);
    QString title() const { return m_title; }
    Qt::Alignment textAlignment() const { return m_alignment; }
    bool isMaximized() const { return m_maximized; }

    QToolButton *minButton() const { return m_btnMin; }
    QToolButton *maxButton() const { return m_btnMax; }
    QToolButton *closeButton() const { return m_btnClose; }

public slots:
    void setTitle(const QString &title);
    virtual void onMinimal() = 0;
    virtual void onMaxNormal(bool b) = 0;
    void onMaxNormal() { onMaxNormal(false); }
    virtual void onClose() = 0;

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

    QWidget *m_window;
    bool m_maximized = false;
    QRect m_normalGeometry;

private:
    QColor m_textColor = Qt::black;
    QString m_title;
    Qt::Alignment m_alignment = Qt::AlignLeft | Qt::AlignVCenter;
    QPixmap m_icon;
    bool m_dragging = false;
    QPoint m_pressWindowPos;
    QPoint m_pressGlobalPos;
    QSize m_buttonSize{20, 20};
    QToolButton *m_btnMin;
    QToolButton *m_btnMax;
    QToolButton *m_btnClose;
    bool m_doubleClickDisabled = false;
    QString m_buttonFolder;
};
