#pragma once

#include <QDialog>

class CDialogTitle;
class QVBoxLayout;

/// Frameless dialog with the application's title bar on top; content added to layout() goes below
/// the bar. The close button rejects the dialog.
class CDialogWidget : public QDialog
{
    Q_OBJECT
public:
    CDialogWidget(QWidget *parent, const QString &title, const QString &buttonFolder, bool hideMaxButton);
    ~CDialogWidget() override;

    CDialogTitle *titleBar() const { return m_titleBar; }
    QVBoxLayout *mainLayout() const { return m_layout; }

    // Not a slot on purpose: forms set up on subclasses connect on_* slots by name, and this name
    // matches no object.
    void on_closed_slots();

protected:
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    QVBoxLayout *m_layout;
    CDialogTitle *m_titleBar;
};
