#include "kestrum/DefaultsKey.h"
#include "kestrum/widgets/Application.h"
#include "support/VolumeFixture.h"

#include <QStyle>
#include <QTest>

using namespace kestrum;

class WidgetsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void toolTipDelayFollowsTheSetting_data();
    void toolTipDelayFollowsTheSetting();
};

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
