#pragma once

#include <QObject>
#include <QString>

class CTallow;
class QTableView;

/// A look into the running window for checks of an installed copy, where no test program can reach
/// the widgets: started only when the environment variable TALLOW_PROBE names a file. It clicks the
/// firmware tab's Search as an operator would and, once the search has delivered its last answer,
/// writes the tab's table to that file (a heading line, then one line per row, cells separated by
/// tabs) and a picture of the window beside it (<file>.png), then ends Tallow with status 0. A search
/// that has not ended within 60 s writes what the table holds and ends Tallow with status 1.
class GuiProbe : public QObject
{
    Q_OBJECT
public:
    /// Starts the probe on window when TALLOW_PROBE is set; returns whether it was.
    static bool startIfAsked(CTallow &window);

private:
    GuiProbe(CTallow &window, const QString &file);
    void report(bool finished);

    CTallow &m_window;
    QString m_file;
    QTableView *m_view = nullptr;
    bool m_done = false;
};
