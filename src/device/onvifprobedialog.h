#pragma once

#include "app/cdialogwidget.h"

class QLabel;
class QPlainTextEdit;

/// The addresses a search also probes directly for ONVIF cameras (`[ONVIF] Probe`), one entry or
/// range a line. OK checks the list, keeps it in Config.ini for the next search and closes; a list
/// it refuses stays open with the reason. Children by object name: onvifProbeEdit, onvifProbeError,
/// onvifProbeOk, onvifProbeCancel.
class OnvifProbeDialog : public CDialogWidget
{
    Q_OBJECT
public:
    OnvifProbeDialog(QWidget *parent, const QString &buttonFolder);

    /// Checks and stores the list; false (the reason shown) when it is refused or cannot be written.
    bool save();

private:
    QPlainTextEdit *m_edit;
    QLabel *m_error;
};
