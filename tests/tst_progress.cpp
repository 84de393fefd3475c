#include "dorvane/gui/ProgressPanel.h"
#include "kestrum/Dispatch.h"

#include <QApplication>
#include <QMainWindow>
#include <QTest>
#include <QThreadPool>

class ProgressTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void effectsApplyInCallOrderFromAPoolThread();
    void endKeepsTheFieldsAndBeginClearsTheDetail();
    void feedOutlivingThePanelDoesNothing();
};

void ProgressTest::effectsApplyInCallOrderFromAPoolThread()
{
    QMainWindow window;
    window.show();
    dorvane::ProgressPanel panel(&window);
    QStringList events;
    connect(&panel, &dorvane::ProgressPanel::began, this, [&](const QString &t) { events << "begin " + t; });
    connect(&panel, &dorvane::ProgressPanel::detailShown, this, [&](const QString &d, bool open) {
        events << QStringLiteral("detail %1 %2").arg(d, open ? "open" : "closed");
    });
    connect(&panel, &dorvane::ProgressPanel::ended, this, [&] { events << "end"; });

    QThreadPool::globalInstance()->start([&panel] {
        panel.beginProgress("Scanning Packages");
        for (int i = 0; i < 50; ++i)
            panel.setProgress(QStringLiteral("Adding file: /f%1").arg(i));
        panel.endProgress();
    });
    QVERIFY(QThreadPool::globalInstance()->waitForDone(5000));
    QTRY_VERIFY(!events.isEmpty() && events.last() == QStringLiteral("end"));
    // Details that come faster than the main thread shows them are merged:
    // the newest waiting one is shown, always while the sheet is open.
    QCOMPARE(events.first(), QStringLiteral("begin Scanning Packages"));
    QVERIFY(events.size() >= 3 && events.size() <= 52);
    QCOMPARE(events.at(events.size() - 2), QStringLiteral("detail Adding file: /f49 open"));
    int last = -1;
    for (const QString &event : events.mid(1, events.size() - 2)) {
        QVERIFY2(event.endsWith(" open"), qPrintable(event));
        const int number = event.section("/f", 1).section(' ', 0, 0).toInt();
        QVERIFY(number > last);
        last = number;
    }
    QVERIFY(!panel.isVisible());

    // Nothing has run yet when the calls come from the main thread: a detail
    // after an end and the next begin still waits for both.
    events.clear();
    panel.beginProgress("View");
    panel.setProgress("first");
    panel.endProgress();
    panel.beginProgress("Plan");
    panel.setProgress("second");
    panel.endProgress();
    QTRY_COMPARE(events.size(), 6);
    QCOMPARE(events, (QStringList{"begin View", "detail first open", "end", "begin Plan", "detail second open", "end"}));
}

void ProgressTest::endKeepsTheFieldsAndBeginClearsTheDetail()
{
    QMainWindow window;
    window.show();
    dorvane::ProgressPanel panel(&window);
    panel.beginProgress("Removing Package");
    panel.setProgress("Writing logfile");
    panel.endProgress();
    QTRY_VERIFY(!panel.isVisible() && panel.detailText() == "Writing logfile");
    QCOMPARE(panel.titleText(), QStringLiteral("Removing Package"));
    panel.beginProgress("Scanning Package Contents");
    QTRY_VERIFY(panel.isVisible());
    QCOMPARE(panel.detailText(), QString());
    QVERIFY(panel.isModal() || panel.windowModality() == Qt::WindowModal);
    panel.endProgress();
    QTRY_VERIFY(!panel.isVisible());
}

void ProgressTest::feedOutlivingThePanelDoesNothing()
{
    QWidget window;
    // Work may outlive the window: its feed then reaches nothing.
    auto *gone = new dorvane::ProgressPanel(&window);
    const dorvane::ProgressPanel::Feed feed = gone->feed();
    delete gone;
    feed.beginProgress("Late");
    feed.setProgress("late");
    feed.endProgress();
    // Effects apply in call order: once a later block has run, so have they.
    bool later = false;
    kestrum::dispatch_async_main([&later] { later = true; });
    QTRY_VERIFY(later);
    QVERIFY(window.findChildren<QWidget *>().isEmpty());
}

QTEST_MAIN(ProgressTest)
#include "tst_progress.moc"
