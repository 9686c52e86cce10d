#pragma once

// What the widget tests of one tab share around every case: a fresh temporary directory holding the
// case's Config.ini and the tab's data, message boxes answered at once with their first button, and
// the tab itself, found by its widgets' object names.

#include "app/cmessagebox.h"
#include "app/configkeys.h"
#include "configini.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTemporaryDir>

#include <functional>
#include <memory>

template <typename Tab> class TabTest : public QObject
{
protected:
    /// From init(): makes the directory, points the settings at its Config.ini (written from `ini`;
    /// no file at all when `ini` is null) and builds the tab with `make` from the directory's path.
    /// False when the directory or the file cannot be made.
    bool startCase(const std::function<std::unique_ptr<Tab>(const QString &dir)> &make,
                   const QByteArray &ini = QByteArray())
    {
        m_tmp = std::make_unique<QTemporaryDir>();
        if (!m_tmp->isValid())
            return false;
        const QString config = tmpPath(QStringLiteral("Config.ini"));
        if (ini.isNull())
            ConfigKeys::setConfigPath(config);
        else if (!useConfigIni(config, ini))
            return false;
        CMessageBox::resetTestHooks();
        CMessageBox::setAnswerProvider([](CMessageBox &) { return 0; });
        m_tab = make(m_tmp->path());
        return true;
    }

    /// From cleanup(): the tab goes first, as it may still store its form in Config.ini.
    void endCase()
    {
        m_tab.reset();
        ConfigKeys::setConfigPath(QString());
        CMessageBox::resetTestHooks();
    }

    template <typename T> T *child(const char *name) const
    {
        return m_tab->template findChild<T *>(QLatin1String(name));
    }
    QString tmpPath(const QString &name) const { return m_tmp->filePath(name); }

    std::unique_ptr<QTemporaryDir> m_tmp;
    std::unique_ptr<Tab> m_tab;
};
