// The alerts the program shows: which buttons, what the command line
// answers, and how the dialog lays out and dismisses. A background caller's
// hand-over to the main thread is tested in tst_kestrum and tst_feedback.

#include "kestrum/Alert.h"
#include "kestrum/widgets/AlertDialog.h"
#include "support/ScriptedPresenter.h"
#include "support/VolumeFixture.h"

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <QTimer>

using namespace kestrum;

class AlertsTest : public QObject
{
    Q_OBJECT

    VolumeFixture m_volume;   // so that nothing here can reach the host's preferences

private Q_SLOTS:
    void buttonsSkipAbsentTitles_data()
    {
        QTest::addColumn<QStringList>("given");     // "-" stands for an absent title
        QTest::addColumn<QStringList>("shown");
        QTest::addColumn<int>("pressed");           // index of the shown button pressed
        QTest::addColumn<int>("result");
        QTest::newRow("first only") << QStringList{"OK", "-", "-"} << QStringList{"OK"} << 0 << 1000;
        QTest::newRow("second absent") << QStringList{"Delete", "-", "Cancel"} << QStringList{"Delete", "Cancel"}
                                       << 1 << 1001;
        QTest::newRow("three") << QStringList{"A", "B", "C"} << QStringList{"A", "B", "C"} << 2 << 1002;
        QTest::newRow("none: the default button") << QStringList{"-", "-", "-"} << QStringList{} << 0 << 1000;
    }

    void buttonsSkipAbsentTitles()
    {
        QFETCH(QStringList, given);
        QFETCH(QStringList, shown);
        QFETCH(int, pressed);
        QFETCH(int, result);
        ScriptedPresenterScope script;
        script->enqueueButton(1000 + pressed);
        auto title = [&](int i) { return given[i] == "-" ? QString() : given[i]; };
        QCOMPARE(alert("Title", "Message", title(0), title(1), title(2)), result);
        QCOMPARE(script->questions().size(), 1);
        QCOMPARE(script->questions().first().buttons, shown);
        QCOMPARE(script->questions().first().title, QStringLiteral("Title"));
        QCOMPARE(script->questions().first().message, QStringLiteral("Message"));
    }

    void appTitledUsesTheApplicationsName()
    {
        ScriptedPresenterScope script;
        alert_apptitled("Something happened", "OK");
        QCOMPARE(script->questions().first().title, QStringLiteral("Dorvane"));
        QCOMPARE(script->questions().first().message, QStringLiteral("Something happened"));
    }

    void consoleAnswersWhatChangesNothing_data()
    {
        QTest::addColumn<QStringList>("buttons");
        QTest::addColumn<bool>("agree");
        QTest::addColumn<int>("result");
        const QStringList uninstaller{"Open Uninstaller", "Cancel", "Uninstall Anyway"};
        QTest::newRow("cancel in the middle") << uninstaller << false << 1001;
        QTest::newRow("no neutral: the last") << QStringList{"Yes", "No"} << false << 1001;
        QTest::newRow("agreeing") << uninstaller << true << 1000;
        QTest::newRow("default button") << QStringList{} << false << 1000;
    }

    void consoleAnswersWhatChangesNothing()
    {
        QFETCH(QStringList, buttons);
        QFETCH(bool, agree);
        QFETCH(int, result);
        AlertQuestion question;
        question.title = "Title";
        question.buttons = buttons;
        QCOMPARE(ConsolePresenter(agree).present(question).button, result);
    }

    void dialogPutsTheFirstButtonRightmost()
    {
        AlertQuestion question;
        question.title = "Remove?";
        question.buttons = {"Remove", "Cancel", "Help"};
        AlertDialog dialog(question);
        dialog.show();
        QList<QPushButton *> buttons = dialog.findChildren<QPushButton *>();
        QCOMPARE(buttons.size(), 3);
        std::sort(buttons.begin(), buttons.end(), [](auto *a, auto *b) { return a->x() < b->x(); });
        QCOMPARE(buttons.last()->text(), QStringLiteral("Remove"));
        QVERIFY(buttons.last()->isDefault());
        QCOMPARE(buttons.first()->text(), QStringLiteral("Help"));
    }

    void dialogDismissedAnswersCancel_data()
    {
        QTest::addColumn<QStringList>("buttons");
        QTest::addColumn<bool>("escape");   // else the window's close button
        QTest::addColumn<int>("result");
        const QStringList uninstaller{"Open Uninstaller", "Cancel", "Uninstall Anyway"};
        QTest::newRow("crash report, Escape") << QStringList{"Send", "Never", "Cancel"} << true << 1002;
        QTest::newRow("native uninstaller, Escape") << uninstaller << true << 1001;
        QTest::newRow("native uninstaller, closed") << uninstaller << false << 1001;
        QTest::newRow("no Cancel: the last") << QStringList{"Send to support", "Quit"} << true << 1001;
        QTest::newRow("one button") << QStringList{"OK"} << false << 1000;
    }

    void dialogDismissedAnswersCancel()
    {
        QFETCH(QStringList, buttons);
        QFETCH(bool, escape);
        QFETCH(int, result);
        const auto previous = setAlertPresenter(std::make_shared<DialogPresenter>());
        // Runs once the alert's own event loop does, that is once it is up.
        QTimer::singleShot(0, [escape] {
            for (QWidget *widget : QApplication::topLevelWidgets()) {
                auto *dialog = qobject_cast<AlertDialog *>(widget);
                if (!dialog || !dialog->isVisible())
                    continue;
                // Escape goes where the keyboard is, the default button.
                if (escape)
                    QTest::keyClick(dialog->focusWidget() ? dialog->focusWidget() : dialog, Qt::Key_Escape);
                else
                    dialog->close();
            }
        });
        const int answer = alert("Title", "Message", buttons.value(0), buttons.value(1), buttons.value(2));
        setAlertPresenter(previous);
        QCOMPARE(answer, result);
    }
};

QTEST_MAIN(AlertsTest)
#include "tst_alerts.moc"
