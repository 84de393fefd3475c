#include "kestrum/BlockWrapper.h"
#include "kestrum/DefaultsKey.h"
#include "kestrum/widgets/Application.h"
#include "kestrum/widgets/WidgetUtilities.h"
#include "support/VolumeFixture.h"

#include <QFontMetricsF>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>

#include <cmath>

using namespace kestrum;

class WidgetsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void viewWithClass_data();
    void viewWithClass();
    void adjustFontSize_data();
    void adjustFontSize();
    void adjustFontSizeKeepsTheFace();
    void actionBlockRunsWithTheControl();
    void actionBlockIsReplacedAndCleared();
    void actionBlockMayReplaceItselfWhileRunning();
    void actionBlockDiesWithTheControl();
    void blockWrapperInvokes();
    void selectedTabIndex_data();
    void selectedTabIndex();
    void hyperlink_data();
    void hyperlink();
    void sizeUsingFont();
    void toolTipDelayFollowsTheSetting_data();
    void toolTipDelayFollowsTheSetting();
};

void WidgetsTest::viewWithClass_data()
{
    QTest::addColumn<QString>("start");
    QTest::addColumn<QString>("className");
    QTest::addColumn<QString>("found");
    QTest::newRow("the receiver itself") << "root" << "QWidget" << "root";
    QTest::newRow("depth-first before a later sibling") << "root" << "QPushButton" << "innerButton";
    QTest::newRow("a subclass counts") << "root" << "QAbstractButton" << "innerButton";
    QTest::newRow("a parent before its children") << "root" << "QFrame" << "frame";
    QTest::newRow("after an earlier subtree") << "root" << "QLineEdit" << "edit";
    QTest::newRow("from a subtree") << "laterButton" << "QPushButton" << "laterButton";
    QTest::newRow("only below the receiver") << "laterButton" << "QLabel" << "";
    QTest::newRow("none") << "root" << "QTabWidget" << "";
}

void WidgetsTest::viewWithClass()
{
    QFETCH(QString, start);
    QFETCH(QString, className);
    QFETCH(QString, found);

    QWidget root;
    root.setObjectName("root");
    auto *frame = new QFrame(&root);
    frame->setObjectName("frame");
    (new QLabel(frame))->setObjectName("label");
    (new QPushButton(frame))->setObjectName("innerButton");
    (new QPushButton(&root))->setObjectName("laterButton");
    (new QLineEdit(&root))->setObjectName("edit");

    const QHash<QString, const QMetaObject *> classes{
        {"QWidget", &QWidget::staticMetaObject},         {"QPushButton", &QPushButton::staticMetaObject},
        {"QAbstractButton", &QAbstractButton::staticMetaObject}, {"QFrame", &QFrame::staticMetaObject},
        {"QLineEdit", &QLineEdit::staticMetaObject},     {"QLabel", &QLabel::staticMetaObject},
        {"QTabWidget", &QTabWidget::staticMetaObject}};
    QWidget *from = start == "root" ? &root : root.findChild<QWidget *>(start);
    QVERIFY(from);
    QWidget *result = kestrum::viewWithClass(from, *classes.value(className));
    QCOMPARE(result ? result->objectName() : QString(), found);

    QCOMPARE(kestrum::viewWithClass<QPushButton>(&root), root.findChild<QPushButton *>("innerButton"));
    QCOMPARE(kestrum::viewWithClass<QLabel>(nullptr), nullptr);
}

void WidgetsTest::adjustFontSize_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("width");
    QTest::addColumn<qreal>("startSize");
    QTest::newRow("fits: size truncated only") << "OK" << 400 << 13.7;
    QTest::newRow("too wide: shrinks") << "A rather long label for a small field" << 150 << 24.0;
    QTest::newRow("never fits: lower limit") << QString(400, QLatin1Char('W')) << 10 << 12.0;
    QTest::newRow("empty text") << QString() << 50 << 12.0;
}

void WidgetsTest::adjustFontSize()
{
    QFETCH(QString, text);
    QFETCH(int, width);
    QFETCH(qreal, startSize);

    auto check = [&](QWidget *field) {
        QFont start = field->font();
        start.setPointSizeF(startSize);
        field->setFont(start);
        field->resize(width, 30);
        if (auto *label = qobject_cast<QLabel *>(field))
            kestrum::adjustFontSize(label);
        else
            kestrum::adjustFontSize(qobject_cast<QLineEdit *>(field));

        const QFont result = field->font();
        const int size = result.pointSize();
        QVERIFY(size <= int(startSize));
        QVERIFY(size >= kMinimumAdjustedFontSize);
        auto widthAt = [&](int points) {
            QFont f = result;
            f.setPointSize(points);
            return QFontMetricsF(f).horizontalAdvance(text);
        };
        if (size > kMinimumAdjustedFontSize)
            QVERIFY2(widthAt(size) <= width, qPrintable(QString::number(size)));
        // The largest size that fits: one point more would not.
        if (size < int(startSize))
            QVERIFY2(widthAt(size + 1) > width, qPrintable(QString::number(size)));
    };

    QLabel label(text);
    check(&label);
    QLineEdit edit(text);
    check(&edit);

    if (QTest::currentDataTag() == QByteArray("never fits: lower limit"))
        QCOMPARE(label.font().pointSize(), kMinimumAdjustedFontSize);
    if (QTest::currentDataTag() == QByteArray("fits: size truncated only"))
        QCOMPARE(label.font().pointSize(), 13);
    if (QTest::currentDataTag() == QByteArray("too wide: shrinks"))
        QVERIFY(label.font().pointSize() < 24);
}

void WidgetsTest::adjustFontSizeKeepsTheFace()
{
    QLabel label("Some text that is far too wide for the field");
    QFont font(QStringLiteral("DejaVu Serif"));
    font.setBold(true);
    font.setItalic(true);
    font.setPointSize(30);
    label.setFont(font);
    label.resize(120, 30);
    kestrum::adjustFontSize(&label);
    QCOMPARE(label.font().family(), font.family());
    QVERIFY(label.font().bold());
    QVERIFY(label.font().italic());
    QVERIFY(label.font().pointSize() < 30);

    kestrum::adjustFontSize(static_cast<QLabel *>(nullptr));
    kestrum::adjustFontSize(static_cast<QLineEdit *>(nullptr));
}

void WidgetsTest::actionBlockRunsWithTheControl()
{
    QPushButton button("Go");
    QVERIFY(!kestrum::actionBlock(&button));

    int calls = 0;
    QObject *sender = nullptr;
    setActionBlock(&button, [&](QObject *s) {
        ++calls;
        sender = s;
    });
    button.click();
    QCOMPARE(calls, 1);
    QCOMPARE(sender, &button);

    // actionBlock hands back the same callable.
    const BlockWrapper::Block block = kestrum::actionBlock(&button);
    QVERIFY(block);
    block(nullptr);
    QCOMPARE(calls, 2);
    QCOMPARE(sender, nullptr);

    setActionBlock(nullptr, [&](QObject *) { ++calls; });
    QVERIFY(!kestrum::actionBlock(nullptr));
}

void WidgetsTest::actionBlockIsReplacedAndCleared()
{
    QPushButton button("Go");
    int first = 0;
    int second = 0;
    setActionBlock(&button, [&](QObject *) { ++first; });
    setActionBlock(&button, [&](QObject *) { ++second; });
    button.click();
    QCOMPARE(first, 0);
    QCOMPARE(second, 1);

    setActionBlock(&button, {});
    button.click();
    QCOMPARE(second, 1);
    QVERIFY(!kestrum::actionBlock(&button));
}

void WidgetsTest::actionBlockMayReplaceItselfWhileRunning()
{
    QPushButton button("Go");
    int replaced = 0;
    int after = 0;
    setActionBlock(&button, [&](QObject *) {
        ++replaced;
        setActionBlock(&button, [&](QObject *) { ++after; });
    });
    button.click();
    button.click();
    QCOMPARE(replaced, 1);
    QCOMPARE(after, 1);
}

void WidgetsTest::actionBlockDiesWithTheControl()
{
    auto *button = new QPushButton("Go");
    setActionBlock(button, [](QObject *) {});
    QPointer<BlockWrapper> wrapper = button->findChild<BlockWrapper *>();
    QVERIFY(wrapper);
    delete button;
    QVERIFY(wrapper.isNull());
}

void WidgetsTest::blockWrapperInvokes()
{
    BlockWrapper empty;
    empty.invoke(this); // no block: nothing happens

    QObject *seen = nullptr;
    BlockWrapper wrapper([&](QObject *sender) { seen = sender; });
    wrapper.invoke(this);
    QCOMPARE(seen, this);

    int calls = 0;
    wrapper.setBlock([&](QObject *) { ++calls; });
    wrapper.invoke(nullptr);
    wrapper.block()(nullptr);
    QCOMPARE(calls, 2);
    QCOMPARE(seen, this);
}

void WidgetsTest::selectedTabIndex_data()
{
    QTest::addColumn<int>("tabs");
    QTest::addColumn<int>("select");
    QTest::addColumn<qint64>("expected");
    QTest::newRow("no tabs") << 0 << -1 << qint64(-1);
    QTest::newRow("first by default") << 3 << -1 << qint64(0);
    QTest::newRow("last selected") << 3 << 2 << qint64(2);
}

void WidgetsTest::selectedTabIndex()
{
    QFETCH(int, tabs);
    QFETCH(int, select);
    QFETCH(qint64, expected);
    QTabWidget tabView;
    for (int i = 0; i < tabs; ++i)
        tabView.addTab(new QWidget, QString::number(i));
    if (select >= 0)
        tabView.setCurrentIndex(select);
    QCOMPARE(selectedTabViewIndex(&tabView), expected);
    QCOMPARE(selectedTabViewIndex(nullptr), qint64(-1));
}

void WidgetsTest::hyperlink_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QUrl>("url");
    QTest::addColumn<QString>("href");
    QTest::newRow("web page") << "Dorvane's site" << QUrl("https://www.dorvane.example/") << "https://www.dorvane.example/";
    QTest::newRow("markup in the text") << "<b>not bold</b> & more" << QUrl("https://x.example/a?b=1&c=2")
                                        << "https://x.example/a?b=1&c=2";
    QTest::newRow("encoded address") << "mail us" << QUrl("mailto:feedback@dorvane.example?subject=Hi there")
                                     << "mailto:feedback@dorvane.example?subject=Hi%20there";
}

void WidgetsTest::hyperlink()
{
    QFETCH(QString, text);
    QFETCH(QUrl, url);
    QFETCH(QString, href);

    QTextDocument document;
    document.setHtml(hyperlinkWithURL(text, url));
    QCOMPARE(document.toPlainText(), text);

    // Every character of the text carries the link, the blue and the underline.
    int covered = 0;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat format = it.fragment().charFormat();
            QVERIFY(format.isAnchor());
            QCOMPARE(format.anchorHref(), href);
            QCOMPARE(format.foreground().color(), QColor(0, 0, 255));
            QVERIFY(format.fontUnderline());
            covered += it.fragment().length();
        }
    }
    QCOMPARE(covered, text.size());
}

void WidgetsTest::sizeUsingFont()
{
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPointSize(12);
    const QFontMetricsF metrics(font);
    const QString line = QStringLiteral("Dorvane removes packages");
    const QString paragraph = (line + QLatin1Char(' ')).repeated(10).trimmed();

    const QSizeF single = kestrum::sizeUsingFont(line, font, 10000);
    QVERIFY(qAbs(single.width() - metrics.horizontalAdvance(line)) < 2);
    QVERIFY(single.height() >= metrics.height() - 1 && single.height() < 2 * metrics.lineSpacing());

    const float narrow = float(metrics.horizontalAdvance(line) * 1.5);
    const QSizeF wrapped = kestrum::sizeUsingFont(paragraph, font, narrow);
    QVERIFY(wrapped.width() <= narrow);
    // Ten copies of the line need at least the lines their width fills,
    // and at most ten, since every line holds one copy at this width.
    const double lineCount = wrapped.height() / metrics.lineSpacing();
    const double fewest = std::ceil(metrics.horizontalAdvance(paragraph) / narrow);
    QVERIFY2(lineCount >= fewest - 0.2 && lineCount <= 10.2, qPrintable(QString::number(lineCount)));
    QVERIFY(wrapped.height() > single.height() * (fewest - 0.5));

    QCOMPARE(kestrum::sizeUsingFont(QString(), font, 100).width(), 0.0);
}

void WidgetsTest::toolTipDelayFollowsTheSetting_data()
{
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<int>("delay");   // -1: the style's own
    QTest::newRow("none stored") << QVariant() << -1;
    QTest::newRow("as every start sets it") << QVariant(1) << 1;
    QTest::newRow("another value") << QVariant(1500) << 1500;
}

void WidgetsTest::toolTipDelayFollowsTheSetting()
{
    QFETCH(QVariant, stored);
    QFETCH(int, delay);
    VolumeFixture volume;
    ToolTipDelayStyle style;
    const int own = style.baseStyle()->styleHint(QStyle::SH_ToolTip_WakeUpDelay);
    DefaultsKey(ToolTipDelayStyle::kDelayKey).setDefaultObject(stored);
    QCOMPARE(style.styleHint(QStyle::SH_ToolTip_WakeUpDelay), delay < 0 ? own : delay);
}

QTEST_MAIN(WidgetsTest)
#include "tst_widgets.moc"
