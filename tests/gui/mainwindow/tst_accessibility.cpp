// The main window as a screen reader and a keyboard user meet it: every control it shows has a name,
// Tab walks each tab in reading order, and the device tables answer their keys.

#include "app/cdialogwidget.h"
#include "app/cmessagebox.h"
#include "configini.h"
#include "device/devicetab.h"
#include "device/devicetabcontroller.h"
#include "device/devicetable.h"
#include "device/devicetableactions.h"
#include "device/logindlg.h"
#include "mainwindow/ctallow.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QHash>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabBar>
#include <QTabWidget>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <cstring>

namespace
{

bool isInteractive(QAccessible::Role role)
{
    switch (role) {
    case QAccessible::PushButton:
    case QAccessible::CheckBox:
    case QAccessible::RadioButton:
    case QAccessible::ComboBox:
    case QAccessible::EditableText:
    case QAccessible::SpinBox:
    case QAccessible::Slider:
    case QAccessible::Dial:
    case QAccessible::Table:
    case QAccessible::Tree:
    case QAccessible::List:
    case QAccessible::PageTab:
    case QAccessible::ButtonMenu:
    case QAccessible::ButtonDropDown:
    case QAccessible::ButtonDropGrid:
    case QAccessible::Link:
    case QAccessible::HotkeyField:
    case QAccessible::MenuItem:
        return true;
    default:
        return false;
    }
}

QString describe(QAccessibleInterface *iface)
{
    // Tabs of a tab bar have no object of their own: they are told by their bar.
    QObject *object = iface->object();
    QString where;
    for (QAccessibleInterface *up = iface; up && !object; up = up->parent())
        object = up->object();
    if (object)
        where = QStringLiteral("%1 \"%2\"")
                    .arg(QLatin1String(object->metaObject()->className()), object->objectName());
    return QStringLiteral("role %1 in %2, value \"%3\"")
        .arg(int(iface->role()))
        .arg(where, iface->text(QAccessible::Value));
}

/// A control is named when its name says what it is for. On this platform Qt gives a combo box its
/// current item as its name, so a name that only repeats the value does not count there: the widget
/// must carry a name of its own or a label must point at it.
bool isNamed(QAccessibleInterface *iface)
{
    const QString name = iface->text(QAccessible::Name).trimmed();
    if (name.isEmpty())
        return false;
    if (name != iface->text(QAccessible::Value).trimmed())
        return true;
    if (auto *widget = qobject_cast<QWidget *>(iface->object());
        widget && !widget->accessibleName().isEmpty())
        return true;
    const auto labels = iface->relations(QAccessible::Label);
    for (const auto &[label, relation] : labels) {
        Q_UNUSED(relation);
        if (label && !label->text(QAccessible::Name).trimmed().isEmpty())
            return true;
    }
    return false;
}

struct Walk {
    QStringList unnamed;
    QStringList misleading; ///< names shared by two controls of a role, or leaving out the visible text
    QHash<QPair<int, QString>, QString> seen;
    QStringList objectNames; ///< of every interactive control met
    int controls = 0;
};

void walk(QAccessibleInterface *iface, Walk *out)
{
    if (!iface || !iface->isValid() || iface->state().invisible)
        return;
    const QAccessible::Role role = iface->role();
    if (isInteractive(role)) {
        ++out->controls;
        if (iface->object())
            out->objectNames.append(iface->object()->objectName());
        if (!isNamed(iface)) {
            out->unnamed.append(describe(iface));
        } else {
            // Two buttons both called "Browse" leave the listener guessing which is which.
            const QPair<int, QString> key(int(role), iface->text(QAccessible::Name).trimmed());
            if (out->seen.contains(key))
                out->misleading.append(out->seen.value(key) + QStringLiteral(" and ") + describe(iface));
            else
                out->seen.insert(key, describe(iface));
            // Whoever speaks to the computer says the text on the button; the name must hold it.
            if (auto *button = qobject_cast<QAbstractButton *>(iface->object())) {
                const QString shown = QString(button->text()).remove(QLatin1Char('&')).trimmed();
                if (!key.second.contains(shown, Qt::CaseInsensitive))
                    out->misleading.append(
                        describe(iface) +
                        QStringLiteral(" is named \"%1\" but shows \"%2\"").arg(key.second, shown));
            }
        }
    }
    // The cells, rows and items below are content, not controls.
    if (role == QAccessible::Table || role == QAccessible::ComboBox || role == QAccessible::List ||
        role == QAccessible::Tree)
        return;
    for (int i = 0; i < iface->childCount(); ++i)
        walk(iface->child(i), out);
}

Walk walkFrom(QObject *root)
{
    Walk out;
    walk(QAccessible::queryAccessibleInterface(root), &out);
    return out;
}

SDK_CONFIG_NET_COMMON_V2 answer(int last)
{
    SDK_CONFIG_NET_COMMON_V2 a;
    std::memset(&a, 0, sizeof a);
    const uint8_t ip[4] = {127, 46, 0, uint8_t(last)};
    std::memcpy(a.HostIP, ip, 4);
    std::snprintf(a.sMac, sizeof a.sMac, "aa:00:00:00:02:%02x", last);
    a.DeviceType = 1; // listed on every tab
    a.NetValues[1] = 34567;
    return a;
}

DeviceTabController *coreOf(QWidget *tab)
{
    auto *deviceTab = qobject_cast<DeviceTab *>(tab);
    return deviceTab ? deviceTab->tabController() : nullptr;
}

/// Names of the widgets Tab visits, from the tab bar round to it again.
QStringList focusChain(QWidget *start)
{
    QStringList names;
    QWidget *w = start;
    do {
        // A widget with a focus proxy hands Tab on to it and is not a stop of its own.
        if ((w->focusPolicy() & Qt::TabFocus) && !w->focusProxy() && w->isVisible() && w->isEnabled())
            names.append(w->objectName());
        w = w->nextInFocusChain();
    } while (w && w != start && names.size() < 200);
    return names;
}

} // namespace

class AccessibilityTest : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    std::unique_ptr<CTallow> m_window;

    QWidget *openTab(int index)
    {
        m_window->tabWidget()->setCurrentIndex(index);
        QWidget *tab = m_window->tabWidget()->widget(index);
        // Rows, so that the tables have cells and the menu has a device.
        DeviceTabController *core = coreOf(tab);
        if (core->table()->rowCount() == 0) {
            for (int i = 0; i < 3; ++i)
                core->fillDeviceTable(answer(10 + i));
            core->stopSearch();
        }
        return tab;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(useConfigIni(m_dir.filePath(QStringLiteral("Config.ini")), QByteArray()));
        QAccessible::setActive(true);
    }
    void init()
    {
        CMessageBox::resetTestHooks();
        CMessageBox::setAnswerProvider([](CMessageBox &) { return 1; });
        m_window = std::make_unique<CTallow>();
        m_window->show();
        QApplication::setActiveWindow(m_window.get());
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
    }
    void cleanup()
    {
        m_window.reset();
        CMessageBox::resetTestHooks();
    }

    void everyControlIsNamed_data()
    {
        QTest::addColumn<int>("tab");
        QTest::addColumn<QStringList>("mustMeet");
        const QStringList shell{QStringLiteral("SysMin"), QStringLiteral("SysMax"),
                                QStringLiteral("SysClose"), QStringLiteral("tableView")};
        QTest::newRow("logo") << 0
                              << shell + QStringList{QStringLiteral("lineEditPassword"),
                                                     QStringLiteral("lineEditBoot"),
                                                     QStringLiteral("btnSelectBlind"),
                                                     QStringLiteral("btnModify")};
        QTest::newRow("firmware") << 1
                                  << shell + QStringList{QStringLiteral("lineEditPassword"),
                                                         QStringLiteral("lineEditFileName"),
                                                         QStringLiteral("browseCfgBtn"),
                                                         QStringLiteral("upgradeBtn")};
        QTest::newRow("oemid") << 2
                               << shell + QStringList{QStringLiteral("setoemid"), QStringLiteral("timeZone"),
                                                      QStringLiteral("language"),
                                                      QStringLiteral("searchbtn")};
    }
    void everyControlIsNamed()
    {
        QFETCH(int, tab);
        QFETCH(QStringList, mustMeet);
        openTab(tab);
        const Walk found = walkFrom(m_window.get());
        for (const QString &name : mustMeet)
            QVERIFY2(found.objectNames.contains(name), qPrintable(name + QStringLiteral(" not reached")));
        QVERIFY2(found.unnamed.isEmpty(), qPrintable(QStringLiteral("%1 of %2 controls without a name:\n  %3")
                                                         .arg(found.unnamed.size())
                                                         .arg(found.controls)
                                                         .arg(found.unnamed.join(QStringLiteral("\n  ")))));
        QVERIFY2(found.misleading.isEmpty(),
                 qPrintable(QStringLiteral("misleading names:\n  %1")
                                .arg(found.misleading.join(QStringLiteral("\n  ")))));
    }

    void dialogsOfTheTabsAreNamed()
    {
        QWidget *tab = openTab(1);
        DeviceTableActions *actions = coreOf(tab)->tableActions();
        QPointer<CDialogWidget> history = actions->showHistory(0);
        QVERIFY(history);
        LoginDlg login(m_window.get());
        login.show();
        std::unique_ptr<QMenu> menu(actions->createMenu(0));
        menu->popup(QPoint(10, 10));
        for (QWidget *dialog : std::initializer_list<QWidget *>{history, &login, menu.get()}) {
            QVERIFY(QTest::qWaitForWindowExposed(dialog));
            const Walk found = walkFrom(dialog);
            QVERIFY2(found.controls >= 2, qPrintable(dialog->objectName()));
            QVERIFY2(found.unnamed.isEmpty() && found.misleading.isEmpty(),
                     qPrintable(dialog->objectName() + QStringLiteral(": ") +
                                (found.unnamed + found.misleading).join(QStringLiteral("\n  "))));
        }
        history->close();

        // A message box of the tab, walked while it is up: its panel is a window of its own.
        int boxControls = 0;
        QStringList boxProblems;
        CMessageBox::setAnswerProvider([&](CMessageBox &box) {
            box.show();
            const Walk found = walkFrom(box.findChild<QFrame *>(QStringLiteral("msgboxex_panel")));
            boxControls = found.controls;
            boxProblems = found.unnamed + found.misleading;
            return 0;
        });
        tab->findChild<QPushButton *>(QStringLiteral("upgradeBtn"))->click(); // no package chosen
        QCOMPARE(CMessageBox::shownCount(), 1);
        QVERIFY(boxControls >= 1);
        QVERIFY2(boxProblems.isEmpty(), qPrintable(boxProblems.join(QStringLiteral("\n  "))));
    }

    void tabOrderFollowsTheLayout_data()
    {
        QTest::addColumn<int>("tab");
        QTest::addColumn<QStringList>("order");
        const QString bar = QStringLiteral("qt_tabwidget_tabbar");
        QTest::newRow("logo") << 0
                              << QStringList{bar,
                                             "tableView",
                                             "SearchButton",
                                             "selectBtn",
                                             "btnReverse",
                                             "addBtn",
                                             "lineEditPassword",
                                             "checkBoxSetOEMID",
                                             "BtnUpload",
                                             "lineEditBoot",
                                             "btnCheckBoot",
                                             "btnSelectBoot",
                                             "lineEditClose",
                                             "btnSelectClose",
                                             "lineEditLoss",
                                             "btnSelectLoss",
                                             "lineEditBlind",
                                             "btnSelectBlind",
                                             "wavesCheck",
                                             "btnGeneral",
                                             "btnModify"};
        QTest::newRow("firmware")
            << 1
            << QStringList{
                   bar,           "tableView",    "selectBtn",        "btnReverse", "SearchButton",
                   "addBtn",      "setOEMID",     "checkBox",         "BtnUpload",  "lineEditPassword",
                   "lineEditCfg", "browseCfgBtn", "lineEditFileName", "browseBtn",  "wavesCheck",
                   "upgradeBtn"};
        QTest::newRow("oemid") << 2
                               << QStringList{bar,         "tableView", "setoemid", "synchronizationTime",
                                              "setconfig", "zoneCheck", "timeZone", "language_check",
                                              "language",  "searchbtn", "updatelog"};
    }
    void tabOrderFollowsTheLayout()
    {
        QFETCH(int, tab);
        QFETCH(QStringList, order);
        openTab(tab);
        QCOMPARE(focusChain(m_window->tabWidget()->tabBar()).join(QStringLiteral(", ")),
                 order.join(QStringLiteral(", ")));
    }

    void tableKeys_data()
    {
        QTest::addColumn<int>("tab");
        QTest::newRow("logo") << 0;
        QTest::newRow("firmware") << 1;
        QTest::newRow("oemid") << 2;
    }
    void tableKeys()
    {
        QFETCH(int, tab);
        QWidget *page = openTab(tab);
        DeviceTabController *core = coreOf(page);
        DeviceTableActions *actions = core->tableActions();
        auto *view = page->findChild<QTableView *>(QStringLiteral("tableView"));
        QVERIFY(view);
        view->setFocus();
        QTRY_COMPARE(QApplication::focusWidget(), view);
        view->selectionModel()->setCurrentIndex(view->model()->index(1, 1), QItemSelectionModel::Clear);
        QVERIFY(actions->chosenRows().isEmpty());

        // Sent to the table through the window's shortcuts, as a key press is.
        auto press = [view](Qt::Key key, Qt::KeyboardModifiers mods = {}) {
            QTest::keyClick(view, key, mods);
        };
        // Space chooses the current row (ticks it, or on a table without tick boxes selects it).
        press(Qt::Key_Space);
        QCOMPARE(actions->chosenRows(), QList<int>{1});
        if (core->variant().checkable) {
            press(Qt::Key_Space);
            QVERIFY(actions->chosenRows().isEmpty());
        }
        press(Qt::Key_A, Qt::ControlModifier);
        QCOMPARE(actions->chosenRows(), (QList<int>{0, 1, 2}));

        for (auto [key, mods] : {std::pair{Qt::Key_Menu, Qt::KeyboardModifiers{}},
                                 std::pair{Qt::Key_F10, Qt::KeyboardModifiers{Qt::ShiftModifier}}}) {
            press(key, mods);
            QMenu *menu = nullptr;
            QTRY_VERIFY2((menu = view->findChild<QMenu *>()) && menu->isVisible(),
                         qPrintable(QKeySequence(QKeyCombination(mods, key)).toString() +
                                    QStringLiteral(" opens no menu")));
            // The menu is for the current row.
            QVERIFY(menu->findChild<QAction *>(QStringLiteral("showHistory"))->isEnabled());
            menu->close();
            QTRY_VERIFY(!view->findChild<QMenu *>());
        }
    }

    void enterDoesWhatADoubleClickDoes_data()
    {
        QTest::addColumn<int>("tab");
        QTest::addColumn<int>("loginDialogs"); // the firmware tab logs a device in again on a double click
        QTest::newRow("logo") << 0 << 0;
        QTest::newRow("firmware") << 1 << 1;
        QTest::newRow("oemid") << 2 << 0;
    }
    void enterDoesWhatADoubleClickDoes()
    {
        QFETCH(int, tab);
        QFETCH(int, loginDialogs);
        QWidget *page = openTab(tab);
        auto *view = page->findChild<QTableView *>(QStringLiteral("tableView"));
        view->setFocus();
        view->setCurrentIndex(view->model()->index(1, 1));
        QSignalSpy clicked(view, &QAbstractItemView::clicked);
        QSignalSpy doubleClicked(view, &QAbstractItemView::doubleClicked);
        // A dialog that opens is told apart and cancelled, so that the key press returns.
        QStringList dialogs;
        QTimer guard;
        connect(&guard, &QTimer::timeout, this, [&dialogs] {
            if (auto *dlg = qobject_cast<LoginDlg *>(QApplication::activeModalWidget())) {
                dialogs.append(dlg->ipEdit()->text());
                dlg->reject();
            }
        });
        guard.start(20);
        QTest::keyClick(view, Qt::Key_Return);
        QCOMPARE(clicked.count(), 1);
        QCOMPARE(clicked.at(0).at(0).toModelIndex().row(), 1);
        QCOMPARE(doubleClicked.count(), 1);
        QCOMPARE(doubleClicked.at(0).at(0).toModelIndex().row(), 1);
        QCOMPARE(dialogs, QStringList(loginDialogs, QStringLiteral("127.46.0.11")));
    }
};

QTEST_MAIN(AccessibilityTest)
#include "tst_accessibility.moc"
