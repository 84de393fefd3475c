#include "dorvane/Settings.h"
#include "dorvane/StartUp.h"
#include "dorvane/gui/AppDelegate.h"
#include "dorvane/gui/MainWindow.h"
#include "dorvane/gui/SettingsWindow.h"
#include "kestrum/DefaultsKey.h"
#include "support/ScriptedPresenter.h"
#include "support/VolumeFixture.h"
#include "ui_MainWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

using namespace dorvane;
using IgnoreLists::List;

// The settings window's editors of the two protective lists, driven through
// their buttons with scripted answers.
class SettingsWindowTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<VolumeFixture> m_volume;
    std::unique_ptr<ScriptedPresenterScope> m_script;
    std::unique_ptr<AppDelegate> m_delegate;

private Q_SLOTS:
    void initTestCase() { StartUp::registerDefaults(); }
    void init()
    {
        m_volume = std::make_unique<VolumeFixture>();
        m_script = std::make_unique<ScriptedPresenterScope>();
        m_delegate = std::make_unique<AppDelegate>();
        m_delegate->window()->ui().preferencesAction->trigger();
        QVERIFY(m_delegate->settingsWindow()->isVisible());
    }
    void cleanup()
    {
        m_delegate.reset();
        m_script.reset();
        m_volume.reset();
    }

    void editors_data()
    {
        QTest::addColumn<int>("list");
        QTest::addColumn<QStringList>("stored");     // before the command; empty: the factory list
        QTest::addColumn<QString>("button");         // Add, Remove or Reset of the list
        QTest::addColumn<QList<int>>("rows");        // selected before the command
        QTest::addColumn<QStringList>("answer");     // the button's number, then the typed text
        QTest::addColumn<QString>("question");
        QTest::addColumn<QStringList>("expected");   // the stored list after; empty: unchanged

        const QStringList installers = Settings::defaultIgnoredInstallers();
        const QStringList folders = Settings::defaultIgnoredSystemFolders();
        const int i = int(List::Installers), f = int(List::SystemFolders);
        const QString add = "Please enter the name of an additional %1 to ignore";
        const QString unbootable = "can make your system unbootable. Don't change these settings unless you know "
                                   "exactly what you are doing!";
        QStringList removed = installers;
        removed.removeAt(2);
        removed.removeAt(0);
        QTest::newRow("added twice") << i << installers + QStringList{"Pacifist"} << "Add" << QList<int>{}
                                     << QStringList{"1000", "Pacifist"} << add.arg("installer")
                                     << installers + QStringList{"Pacifist", "Pacifist"};
        QTest::newRow("added empty") << f << QStringList() << "Add" << QList<int>{} << QStringList{"1000", ""}
                                     << add.arg("folder") << folders + QStringList{""};
        QTest::newRow("add cancelled") << i << QStringList() << "Add" << QList<int>{0} << QStringList{"1001", "x"}
                                       << add.arg("installer") << QStringList();
        QTest::newRow("remove") << i << QStringList() << "Remove" << QList<int>{2, 0} << QStringList{"1000"}
                                << "Removing packages that are hidden by default " + unbootable << removed;
        QTest::newRow("remove cancelled") << f << QStringList() << "Remove" << QList<int>{1, 3} << QStringList{"1001"}
                                          << "Removing packages contents also from system locations " + unbootable
                                          << QStringList();
        QTest::newRow("reset") << i << installers.mid(1) << "Reset" << QList<int>{} << QStringList{"1000"}
                               << "Do you really want to reset the ignored installers to factory defaults?"
                               << installers;
        QTest::newRow("reset cancelled") << f << folders.mid(2) << "Reset" << QList<int>{} << QStringList{"1001"}
                                         << "Do you really want to reset the ignored folders to factory defaults?"
                                         << QStringList();
    }

    void editors()
    {
        QFETCH(int, list);
        QFETCH(QStringList, stored);
        QFETCH(QString, button);
        QFETCH(QList<int>, rows);
        QFETCH(QStringList, answer);
        QFETCH(QString, question);
        QFETCH(QStringList, expected);
        const List which = List(list);
        const kestrum::DefaultsKey key(which == List::Installers ? Settings::kIgnoredInstallers
                                                                 : Settings::kIgnoredSystemFolders);
        if (!stored.isEmpty())
            key.setDefaultArray(stored);
        m_delegate->showSettings();
        const QStringList before = key.defaultStringArray();

        QListWidget *view = m_delegate->settingsWindow()->list(which);
        for (int row : rows)
            view->item(row)->setSelected(true);
        (*m_script)->enqueue({answer.first().toInt(), answer.value(1), false, 0});
        const QString prefix = which == List::Installers ? "installers" : "folders";
        m_delegate->settingsWindow()->findChild<QPushButton *>(prefix + button + "Button")->click();

        QCOMPARE((*m_script)->questions().size(), 1);
        const kestrum::AlertQuestion asked = (*m_script)->questions().first();
        QCOMPARE(asked.message.isEmpty() ? asked.title : asked.message, question);   // a prompt is a title
        // Add asks for text under its prompt; the others warn, each with its own title and buttons.
        const QMap<QString, std::pair<QString, QStringList>> alerts{
            {"Add", {question, {"Add", "Cancel"}}},
            {"Remove", {"Warning", {"Continue", "Cancel"}}},
            {"Reset", {"Reset", {"Reset", "Cancel"}}}};
        QCOMPARE(asked.title, alerts.value(button).first);
        QCOMPARE(asked.buttons, alerts.value(button).second);
        const QStringList after = expected.isEmpty() ? before : expected;
        QCOMPARE(key.defaultStringArray(), after);
        QStringList shown;
        for (int row = 0; row < view->count(); ++row)
            shown.append(view->item(row)->text());
        QCOMPARE(shown, after);
        if (expected.isEmpty()) {   // cancelled: the selection stays too
            QList<int> selected;
            for (const QModelIndex &index : view->selectionModel()->selectedRows())
                selected.append(index.row());
            std::sort(rows.begin(), rows.end());
            std::sort(selected.begin(), selected.end());
            QCOMPARE(selected, rows);
        }
    }

    // Add and Remove work on the stored list as it is when the user answers
    // (a command line may have changed it), keeping what is no text.
    void editorsKeepTheStoredList_data()
    {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QVariantList>("stored");      // when the window shows the list
        QTest::addColumn<QVariantList>("meanwhile");   // stored before the click; empty: unchanged
        QTest::addColumn<int>("row");                  // selected
        QTest::addColumn<QVariantList>("expected");
        QTest::newRow("add") << "Add" << QVariantList{"a", true} << QVariantList() << -1
                             << QVariantList{"a", true, "n"};
        QTest::newRow("remove") << "Remove" << QVariantList{"a", true, "b"} << QVariantList() << 1
                                << QVariantList{"a", true};
        QTest::newRow("remove, changed meanwhile") << "Remove" << QVariantList{"a", "b", "c"}
                                                   << QVariantList{"x", "a", "b", "c"} << 1
                                                   << QVariantList{"x", "a", "c"};
        QTest::newRow("remove the second of two") << "Remove" << QVariantList{"b", "a", "b"}
                                                  << QVariantList{"b", "x", "a", "b"} << 2
                                                  << QVariantList{"b", "x", "a"};
    }

    void editorsKeepTheStoredList()
    {
        QFETCH(QString, button);
        QFETCH(QVariantList, stored);
        QFETCH(QVariantList, meanwhile);
        QFETCH(int, row);
        QFETCH(QVariantList, expected);
        const kestrum::DefaultsKey key(Settings::kIgnoredSystemFolders);
        key.setDefaultArray(stored);
        m_delegate->showSettings();
        if (row >= 0)
            m_delegate->settingsWindow()->list(List::SystemFolders)->item(row)->setSelected(true);
        if (!meanwhile.isEmpty())
            key.setDefaultArray(meanwhile);
        (*m_script)->enqueue({1000, "n", false, 0});
        m_delegate->settingsWindow()->findChild<QPushButton *>("folders" + button + "Button")->click();
        QCOMPARE(key.defaultArray().value_or(QVariantList()), expected);
    }

    void optionsAndIntervalAreStored()
    {
        SettingsWindow *window = m_delegate->settingsWindow();
        window->findChild<QCheckBox *>("deleteDockCheckBox")->click();
        QCOMPARE(kestrum::DefaultsKey(Settings::kDeleteDock).defaultInt(), 0);
        QVERIFY(!m_delegate->window()->findChild<QCheckBox *>("deleteDockCheckBox")->isChecked());
        m_delegate->window()->findChild<QCheckBox *>("deleteDockCheckBox")->click();
        QVERIFY(window->findChild<QCheckBox *>("deleteDockCheckBox")->isChecked());

        auto *interval = window->findChild<QComboBox *>("intervalBox");
        QCOMPARE(interval->currentIndex(), 2);   // the registered default
        for (int index : {0, 5, 3}) {
            interval->setCurrentIndex(index);
            Q_EMIT interval->activated(index);
            QCOMPARE(kestrum::DefaultsKey(Settings::kUpdateCheckMenuIndex).defaultInt(), index);
        }
        kestrum::DefaultsKey(Settings::kUpdateCheckMenuIndex).setDefaultInt(9);   // checks off
        m_delegate->showSettings();
        QCOMPARE(interval->currentIndex(), 0);
    }
};

QTEST_MAIN(SettingsWindowTest)
#include "tst_settingswindow.moc"
