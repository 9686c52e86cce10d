#include "logo/logocheck.h"

#include "app/cmessagebox.h"

#include <QApplication>

bool checkBootLogo(QWidget *parent, const LogoPaths &paths, int nType)
{
    const LogoCheck::Outcome outcome = LogoCheck::check(paths, nType);
    if (!outcome.message.isEmpty()) {
        if (!parent)
            parent = QApplication::activeWindow();
        CMessageBox::information(parent, LogoCheck::tr("Tips"), outcome.message, LogoCheck::tr("OK"));
    }
    return outcome.ok();
}
