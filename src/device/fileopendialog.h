#pragma once

#include <QString>
#include <QStringList>

class QWidget;

/// The tabs' file-open dialog, with a next-answer seam so tests never block on a modal dialog.
class FileOpenDialog
{
public:
    /// The chosen file, or the empty text when the dialog was cancelled.
    static QString getOpenFileName(QWidget *parent, const QString &caption, const QString &dir,
                                   const QString &filter);

    // Test seam: queued answers are returned instead of showing the dialog (an empty text is a
    // cancel); the arguments of the last call are kept.
    struct Call {
        QString caption;
        QString dir;
        QString filter;
    };
    static void setNextAnswer(const QString &path);
    static Call lastCall();
    static void resetTestHooks();
};
