#include "device/onvifprobedialog.h"

#include "app/configkeys.h"
#include "device/onvifprobelist.h"

#include <QCoreApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

OnvifProbeDialog::OnvifProbeDialog(QWidget *parent, const QString &buttonFolder)
    : CDialogWidget(parent, QCoreApplication::translate("OnvifProbe", "ONVIF probe addresses"), buttonFolder,
                    true),
      m_edit(new QPlainTextEdit(this)), m_error(new QLabel(this))
{
    setObjectName(QStringLiteral("onvifProbeDialog"));
    auto *hint = new QLabel(
        QCoreApplication::translate(
            "OnvifProbe", "A search also asks these addresses directly for ONVIF cameras, for cameras the "
                          "multicast search does not reach. One address or range a line, for example "
                          "192.168.5.20 or 192.168.5.20-40."),
        this);
    hint->setWordWrap(true);
    m_edit->setObjectName(QStringLiteral("onvifProbeEdit"));
    m_edit->setAccessibleName(QCoreApplication::translate("OnvifProbe", "ONVIF probe addresses"));
    // One entry a line, as the operator reads them.
    m_edit->setPlainText(
        OnvifProbeList::parse(ConfigKeys::stringValue(Key::OnvifProbe)).entries.join(QLatin1Char('\n')));
    m_error->setObjectName(QStringLiteral("onvifProbeError"));
    m_error->setWordWrap(true);
    m_error->setStyleSheet(QStringLiteral("color: #c0392b;"));
    auto *ok = new QPushButton(QCoreApplication::translate("OnvifProbe", "OK"), this);
    ok->setObjectName(QStringLiteral("onvifProbeOk"));
    ok->setDefault(true);
    auto *cancel = new QPushButton(QCoreApplication::translate("OnvifProbe", "Cancel"), this);
    cancel->setObjectName(QStringLiteral("onvifProbeCancel"));
    connect(ok, &QPushButton::clicked, this, [this] {
        if (save())
            accept();
    });
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    mainLayout()->addWidget(hint);
    mainLayout()->addWidget(m_edit);
    mainLayout()->addWidget(m_error);
    mainLayout()->addLayout(buttons);
    resize(460, 320);
}

bool OnvifProbeDialog::save()
{
    const OnvifProbeList::Parsed list = OnvifProbeList::parse(m_edit->toPlainText());
    if (!list.ok()) {
        m_error->setText(list.error);
        return false;
    }
    const IniResult written = ConfigKeys::setString(Key::OnvifProbe, OnvifProbeList::stored(list));
    if (!written) {
        m_error->setText(written.error);
        return false;
    }
    m_error->clear();
    return true;
}
