#include "kestrum/Alert.h"
#include "kestrum/DefaultsKey.h"
#include "kestrum/Dispatch.h"
#include "kestrum/widgets/AlertDialog.h"
#include "platform/Bundle.h"
#include "platform/UserDefaults.h"
#include "support/ScriptedPresenter.h"
#include "support/VolumeFixture.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QThreadPool>
#include <QTimer>

#include <atomic>

using namespace kestrum;
using Accessory = AlertQuestion::Accessory;

class AlertsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void buttonsSkipAbsentTitles_data();
    void buttonsSkipAbsentTitles();
    void appTitledUsesTheApplicationsName();
    void accessoryFormsTakeThreeButtons();
    void outParametersAreWrittenWhateverTheButton();
    void radioTitles_data();
    void radioTitles();
    void dontWarnAgainEver();
    void dontWarnAgainPerVersion();
    void backgroundCallerWaitsForTheAnswer();
    void dontWarnAgainFromBackgroundDoesNotWait();
    void consoleAnswersWhatChangesNothing_data();
    void consoleAnswersWhatChangesNothing();

    void dialogPutsTheFirstButtonRightmost();
    void dialogReturnsAccessoryValues();
    void dialogDismissedAnswersCancel_data();
    void dialogDismissedAnswersCancel();

private:
    std::unique_ptr<VolumeFixture> m_volume;
};

void AlertsTest::init()
{
    m_volume = std::make_unique<VolumeFixture>();
}

void AlertsTest::cleanup()
{
    m_volume.reset();
}

void AlertsTest::buttonsSkipAbsentTitles_data()
{
    QTest::addColumn<QStringList>("given");     // "-" stands for an absent title
    QTest::addColumn<QStringList>("shown");
    QTest::addColumn<int>("pressed");           // index of the shown button pressed
    QTest::addColumn<int>("result");
    QTest::newRow("first only") << QStringList{"OK", "-", "-"} << QStringList{"OK"} << 0 << 1000;
    QTest::newRow("second absent") << QStringList{"Delete", "-", "Cancel"} << QStringList{"Delete", "Cancel"} << 1
                                   << 1001;
    QTest::newRow("three") << QStringList{"A", "B", "C"} << QStringList{"A", "B", "C"} << 2 << 1002;
    QTest::newRow("none: the default button") << QStringList{"-", "-", "-"} << QStringList{} << 0 << 1000;
}

void AlertsTest::buttonsSkipAbsentTitles()
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

void AlertsTest::appTitledUsesTheApplicationsName()
{
    ScriptedPresenterScope script;
    alert_apptitled("Something happened", "OK");
    QCOMPARE(script->questions().first().title, QStringLiteral("Dorvane"));
    QCOMPARE(script->questions().first().message, QStringLiteral("Something happened"));
}

void AlertsTest::accessoryFormsTakeThreeButtons()
{
    ScriptedPresenterScope script;
    QString text;
    alert_input("Name?", {"Add", "Cancel", "Help", "Ignored"}, &text);
    alert_inputsecure("Password?", {}, &text);
    const QList<AlertQuestion> questions = script->questions();
    QCOMPARE(questions.at(0).buttons, (QStringList{"Add", "Cancel", "Help"}));
    QCOMPARE(questions.at(0).accessory, Accessory::TextField);
    QCOMPARE(questions.at(0).title, QStringLiteral("Name?"));
    QVERIFY(questions.at(0).message.isEmpty());
    QVERIFY(questions.at(1).buttons.isEmpty());
    QCOMPARE(questions.at(1).accessory, Accessory::SecureTextField);
}

void AlertsTest::outParametersAreWrittenWhateverTheButton()
{
    ScriptedPresenterScope script;
    script->enqueue({1001, "typed", false, 0});
    script->enqueue({1000, {}, true, 0});
    script->enqueue({1001, "line one\nline two", false, 0});
    script->enqueue({1000, {}, false, 2});
    script->enqueue({1001, {}, false, 1});

    QString text;
    QCOMPARE(alert_input("Name?", {"Add", "Cancel"}, &text), 1001);
    QCOMPARE(text, QStringLiteral("typed"));

    bool checked = false;
    QCOMPARE(alert_checkbox("Sure?", {"OK"}, "Also remove preferences", &checked), 1000);
    QVERIFY(checked);

    QCOMPARE(alert_inputtext("Describe", {"Send", "Cancel"}, &text), 1001);
    QCOMPARE(text, QStringLiteral("line one\nline two"));

    int selection = -1;
    QCOMPARE(alert_selection_popup("Pick", {"a", "b", "c"}, {"OK"}, &selection), 1000);
    QCOMPARE(selection, 2);
    QCOMPARE(alert_selection_matrix("Pick", {"x", "y"}, {"OK", "Cancel"}, &selection), 1001);
    QCOMPARE(selection, 1);

    const QList<AlertQuestion> questions = script->questions();
    QCOMPARE(questions.at(1).accessory, Accessory::Checkbox);
    QCOMPARE(questions.at(1).accessoryTitle, QStringLiteral("Also remove preferences"));
    QCOMPARE(questions.at(3).choices, (QStringList{"a", "b", "c"}));
    QCOMPARE(questions.at(4).accessory, Accessory::RadioColumn);
}

void AlertsTest::radioTitles_data()
{
    QTest::addColumn<int>("length");
    QTest::addColumn<int>("shownLength");
    QTest::newRow("150 shown whole") << 150 << 150;
    QTest::newRow("151 cut") << 151 << 70 + 5 + 70;
    QTest::newRow("short") << 3 << 3;
}

void AlertsTest::radioTitles()
{
    QFETCH(int, length);
    QFETCH(int, shownLength);
    QString choice;
    for (int i = 0; i < length; ++i)
        choice += QChar(u'a' + i % 26);
    const QString shown = radioChoiceTitle(choice);
    QCOMPARE(shown.size(), shownLength);
    if (length > 150) {
        QCOMPARE(shown, choice.left(70) + QStringLiteral(" […] ") + choice.right(70));
        ScriptedPresenterScope script;
        int selection = 0;
        alert_selection_matrix("Pick", {choice}, {"OK"}, &selection);
        QCOMPARE(script->questions().first().choices.first(), shown);
    }
}

void AlertsTest::dontWarnAgainEver()
{
    ScriptedPresenterScope script;
    // Closed without ticking: asked again next time.
    script->enqueue({1000, {}, false, 0});
    alert_dontwarnagain_ever("tip", "Tip", "Did you know?", "OK", "Do not show again");
    QCOMPARE(DefaultsKey("_tip_asked").defaultInt(), 0);
    QVERIFY(platform::UserDefaults::standard().persistentDomain().contains("_tip_asked"));
    script->enqueue({1000, {}, true, 0});
    alert_dontwarnagain_ever("tip", "Tip", "Did you know?", "OK", "Do not show again");
    QCOMPARE(DefaultsKey("_tip_asked").defaultInt(), 1);
    alert_dontwarnagain_ever("tip", "Tip", "Did you know?", "OK", "Do not show again");
    QCOMPARE(script->questions().size(), 2);
    const AlertQuestion question = script->questions().first();
    QCOMPARE(question.accessory, Accessory::Suppression);
    QCOMPARE(question.accessoryTitle, QStringLiteral("Do not show again"));
    QCOMPARE(question.buttons, QStringList{"OK"});
}

void AlertsTest::dontWarnAgainPerVersion()
{
    ScriptedPresenterScope script;
    script->enqueue({1000, {}, true, 0});
    alert_dontwarnagain_version("news", "New", "What's new", "OK", "Do not show again");
    alert_dontwarnagain_version("news", "New", "What's new", "OK", "Do not show again");
    QCOMPARE(script->questions().size(), 1);
    const QString key = QStringLiteral("_news_%1_asked")
                            .arg(platform::Bundle::main().infoValue("CFBundleShortVersionString").toString());
    QCOMPARE(DefaultsKey(key).defaultInt(), 1);
    // Silenced under an older version only: shown again.
    DefaultsKey(key).setDefaultObject(QVariant());
    DefaultsKey("_news_0.0.1_asked").setDefaultInt(1);
    alert_dontwarnagain_version("news", "New", "What's new", "OK", "Do not show again");
    QCOMPARE(script->questions().size(), 2);
}

void AlertsTest::backgroundCallerWaitsForTheAnswer()
{
    ScriptedPresenterScope script;
    script->enqueueButton(1001);
    std::atomic<int> result{0};
    std::atomic<bool> onMain{false};
    QThreadPool::globalInstance()->start([&] {
        int answer = 0;
        dispatch_sync_main([&] {
            onMain = QThread::currentThread() == qApp->thread();
            answer = alert("Question", "From the background", "Yes", "No");
        });
        result = answer;
    });
    QTRY_COMPARE(result.load(), 1001);
    QVERIFY(onMain);
}

void AlertsTest::dontWarnAgainFromBackgroundDoesNotWait()
{
    ScriptedPresenterScope script;
    std::atomic<bool> returned{false};
    std::atomic<qsizetype> askedBeforeReturn{-1};
    QThreadPool::globalInstance()->start([&] {
        alert_dontwarnagain_ever("bg", "Tip", "Message", "OK", "Never again");
        askedBeforeReturn = script->questions().size();
        returned = true;
    });
    // The main thread is not running its loop yet, so the alert cannot have
    // been shown when the background caller returned.
    QVERIFY(QThreadPool::globalInstance()->waitForDone(5000));
    QVERIFY(returned);
    QCOMPARE(askedBeforeReturn.load(), 0);
    QTRY_COMPARE(script->questions().size(), 1);
}

void AlertsTest::consoleAnswersWhatChangesNothing_data()
{
    QTest::addColumn<QStringList>("buttons");
    QTest::addColumn<bool>("agree");
    QTest::addColumn<int>("result");
    QTest::newRow("cancel") << QStringList{"Uninstall", "Cancel"} << false << 1001;
    QTest::newRow("continue") << QStringList{"Send to support", "Continue"} << false << 1001;
    QTest::newRow("quit") << QStringList{"Send to support", "Quit"} << false << 1001;
    QTest::newRow("no neutral: the last") << QStringList{"Yes", "No"} << false << 1001;
    QTest::newRow("agreeing") << QStringList{"Uninstall", "Cancel"} << true << 1000;
    QTest::newRow("default button") << QStringList{} << false << 1000;
}

void AlertsTest::consoleAnswersWhatChangesNothing()
{
    QFETCH(QStringList, buttons);
    QFETCH(bool, agree);
    QFETCH(int, result);
    ConsolePresenter console(agree);
    AlertQuestion question;
    question.title = "Title";
    question.buttons = buttons;
    QCOMPARE(console.present(question).button, result);
}

// Clicks a button of the alert that is about to open, once it is up (none
// for an empty text).
static void clickWhenShown(const QString &buttonText, std::function<void(QDialog *)> prepare = {})
{
    QTimer::singleShot(0, [=] {
        QDialog *dialog = nullptr;
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (auto *d = qobject_cast<AlertDialog *>(w); d && d->isVisible())
                dialog = d;
        }
        if (!dialog)
            return;
        if (prepare)
            prepare(dialog);
        for (QPushButton *button : dialog->findChildren<QPushButton *>()) {
            if (button->text() == buttonText)
                button->click();
        }
    });
}

void AlertsTest::dialogPutsTheFirstButtonRightmost()
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

void AlertsTest::dialogReturnsAccessoryValues()
{
    const auto previous = setAlertPresenter(std::make_shared<DialogPresenter>());
    clickWhenShown("Cancel", [](QDialog *dialog) {
        dialog->findChild<QLineEdit *>()->setText("Xcode");
    });
    QString text;
    QCOMPARE(alert_input("Add an installer", {"Add", "Cancel"}, &text), 1001);
    QCOMPARE(text, QStringLiteral("Xcode"));

    clickWhenShown("OK", [](QDialog *dialog) {
        const QList<QRadioButton *> radios = dialog->findChildren<QRadioButton *>();
        QVERIFY(radios.first()->isChecked());
        radios.last()->setChecked(true);
    });
    int selection = 0;
    QCOMPARE(alert_selection_matrix("Pick", {"one", "two", "three"}, {"OK"}, &selection), 1000);
    QCOMPARE(selection, 2);

    clickWhenShown("OK", [](QDialog *dialog) { dialog->findChild<QCheckBox *>()->setChecked(true); });
    alert_dontwarnagain_ever("dialog", "Tip", "Message", "OK", "Do not show again");
    QCOMPARE(DefaultsKey("_dialog_asked").defaultInt(), 1);
    setAlertPresenter(previous);
}

void AlertsTest::dialogDismissedAnswersCancel_data()
{
    QTest::addColumn<QStringList>("buttons");
    QTest::addColumn<bool>("escape");   // else the window's close button
    QTest::addColumn<int>("result");
    const QStringList crash{"Send", "Never", "Cancel"};
    const QStringList uninstaller{"Open Uninstaller", "Cancel", "Uninstall Anyway"};
    QTest::newRow("crash report, Escape") << crash << true << 1002;
    QTest::newRow("native uninstaller, Escape") << uninstaller << true << 1001;
    QTest::newRow("native uninstaller, closed") << uninstaller << false << 1001;
    QTest::newRow("no Cancel: the last") << QStringList{"Send to support", "Quit"} << true << 1001;
    QTest::newRow("one button") << QStringList{"OK"} << false << 1000;
}

void AlertsTest::dialogDismissedAnswersCancel()
{
    QFETCH(QStringList, buttons);
    QFETCH(bool, escape);
    QFETCH(int, result);
    const auto previous = setAlertPresenter(std::make_shared<DialogPresenter>());
    clickWhenShown(QString(), [escape](QDialog *dialog) {
        // Escape goes where the keyboard is, the default button.
        if (escape)
            QTest::keyClick(dialog->focusWidget() ? dialog->focusWidget() : dialog, Qt::Key_Escape);
        else
            dialog->close();
    });
    const int answer = alert("Title", "Message", buttons.value(0), buttons.value(1), buttons.value(2));
    setAlertPresenter(previous);
    QCOMPARE(answer, result);
}

QTEST_MAIN(AlertsTest)
#include "tst_alerts.moc"
