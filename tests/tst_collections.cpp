#include "dorvane/receipts/PackageRecord.h"
#include "kestrum/CollectionUtilities.h"

#include <QTest>

#include <cmath>
#include <limits>

using namespace kestrum;

using IntList = QList<int>;

namespace {

QVariantMap record(const QString &name, const QVariant &size)
{
    QVariantMap map{{QStringLiteral("name"), name}};
    if (size.isValid())
        map.insert(QStringLiteral("size"), size);
    return map;
}

QStringList names(const QVariantList &records)
{
    QStringList out;
    for (const QVariant &r : records)
        out.append(r.toMap().value(QStringLiteral("name")).toString());
    return out;
}

} // namespace

class CollectionsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void flattened_data();
    void flattened();
    void mappedDropsAbsentResults();
    void reduceSumsInSixtyFourBits_data();
    void reduceSumsInSixtyFourBits();
    void filteredKeepsOrder();
    void safeAccess_data();
    void safeAccess();
    void addingNewObject_data();
    void addingNewObject();
    void removingIdenticalObjects();
    void moveObject_data();
    void moveObject();
    void extentsOfValues_data();
    void extentsOfValues();
    void extentsOfPoints_data();
    void extentsOfPoints();
    void containsDictionaryWithKey_data();
    void containsDictionaryWithKey();
    void sortedByKey_data();
    void sortedByKey();
    void sortedByKeyPathAndRecords();
    void subarrays_data();
    void subarrays();
    void recordFieldsByName_data();
    void recordFieldsByName();
};

void CollectionsTest::flattened_data()
{
    QTest::addColumn<QVariantList>("array");
    QTest::addColumn<QVariantList>("expected");
    QTest::newRow("empty") << QVariantList() << QVariantList();
    QTest::newRow("flat") << QVariantList{1, 2} << QVariantList{1, 2};
    QTest::newRow("depth-first in order")
        << QVariantList{1, QVariantList{2, QVariantList{3, QVariantList{4}}, 5}, 6} << QVariantList{1, 2, 3, 4, 5, 6};
    QTest::newRow("string lists expand") << QVariantList{QStringList{"a", "b"}, QStringLiteral("c")}
                                         << QVariantList{QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("c")};
    QTest::newRow("empty nested lists vanish") << QVariantList{QVariantList(), 1, QVariantList{QVariantList()}}
                                               << QVariantList{1};
    QTest::newRow("maps are elements") << QVariantList{QVariantMap{{"k", QVariantList{1, 2}}}}
                                       << QVariantList{QVariantMap{{"k", QVariantList{1, 2}}}};
}

void CollectionsTest::flattened()
{
    QFETCH(QVariantList, array);
    QFETCH(QVariantList, expected);
    QCOMPARE(flattenedArray(array), expected);
}

void CollectionsTest::mappedDropsAbsentResults()
{
    const IntList numbers{1, 2, 3, 4};
    // Every result absent gives an empty list, whichever way absence is said.
    QVERIFY(mapped(numbers, [](int) { return std::optional<QString>(); }).isEmpty());
    QVERIFY(mapped(numbers, [](int) { return QVariant(); }).isEmpty());
    QVERIFY(mapped(numbers, [](int) -> const char * { return nullptr; }).isEmpty());

    const QStringList evens = mapped(numbers, [](int n) -> std::optional<QString> {
        if (n % 2)
            return std::nullopt;
        return QString::number(n * 10);
    });
    QCOMPARE(evens, QStringList({"20", "40"}));

    const QVariantList odds = mapped(numbers, [](int n) { return n % 2 ? QVariant(n) : QVariant(); });
    QCOMPARE(odds, QVariantList({1, 3}));

    // JSON's null is a value, not an absence.
    QCOMPARE(mapped(IntList{1}, [](int) { return QVariant::fromValue(nullptr); }).size(), 1);

    // Plain results are all kept, in order, including empty ones.
    QCOMPARE(mapped(QStringList{"a", "", "c"}, [](const QString &s) { return s.toUpper(); }),
             QStringList({"A", "", "C"}));
    QVERIFY(mapped(IntList(), [](int n) { return n; }).isEmpty());
}

void CollectionsTest::reduceSumsInSixtyFourBits_data()
{
    QTest::addColumn<IntList>("values");
    QTest::addColumn<qint64>("sum");
    QTest::newRow("empty") << IntList() << qint64(0);
    QTest::newRow("small") << IntList{1, 2, 3} << qint64(6);
    QTest::newRow("negative") << IntList{5, -7} << qint64(-2);
    QTest::newRow("beyond 32 bits") << IntList{2000000000, 2000000000, 2000000000} << qint64(6000000000);
    QTest::newRow("below 32 bits") << IntList{std::numeric_limits<int>::min(), -1} << qint64(-2147483649LL);
}

void CollectionsTest::reduceSumsInSixtyFourBits()
{
    QFETCH(IntList, values);
    QFETCH(qint64, sum);
    QCOMPARE(reduce(values, [](int v) { return v; }), sum);
}

void CollectionsTest::filteredKeepsOrder()
{
    QCOMPARE(filtered(IntList{5, 2, 8, 1, 6}, [](int n) { return n > 4; }), IntList({5, 8, 6}));
    QCOMPARE(filtered(QStringList{"b", "a"}, [](const QString &) { return false; }), QStringList());
    QCOMPARE(filtered(QVariantList{1, QString("x"), 2}, [](const QVariant &v) { return v.typeId() == QMetaType::Int; }),
             QVariantList({1, 2}));
}

void CollectionsTest::safeAccess_data()
{
    QTest::addColumn<QStringList>("list");
    QTest::addColumn<quint64>("index");
    QTest::addColumn<bool>("present");
    QTest::addColumn<QString>("text");
    const QStringList abc{"a", "b", "c"};
    QTest::newRow("first") << abc << quint64(0) << true << QStringLiteral("a");
    QTest::newRow("last") << abc << quint64(2) << true << QStringLiteral("c");
    QTest::newRow("index equal to the count") << abc << quint64(3) << false << QString();
    QTest::newRow("huge index") << abc << std::numeric_limits<quint64>::max() << false << QString();
    QTest::newRow("empty list") << QStringList() << quint64(0) << false << QString();
}

void CollectionsTest::safeAccess()
{
    QFETCH(QStringList, list);
    QFETCH(quint64, index);
    QFETCH(bool, present);
    QFETCH(QString, text);

    const std::optional<QString> object = safeObjectAtIndex(list, index);
    QCOMPARE(object.has_value(), present);
    if (present)
        QCOMPARE(*object, text);
    QCOMPARE(safeStringAtIndex(list, index), text);
    QVERIFY(!safeStringAtIndex(list, index).isNull() || !present);

    // A list of values answers the same, numbers as their text.
    QVariantList values;
    for (const QString &s : list)
        values.append(s);
    QCOMPARE(safeObjectAtIndex(values, index).has_value(), present);
    QCOMPARE(safeStringAtIndex(values, index), text);
    QCOMPARE(safeStringAtIndex(QVariantList{42}, 0), QStringLiteral("42"));
}

void CollectionsTest::addingNewObject_data()
{
    QTest::addColumn<QStringList>("list");
    QTest::addColumn<QString>("object");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("new") << QStringList{"a"} << QStringLiteral("b") << QStringList{"a", "b"};
    QTest::newRow("present") << QStringList{"a", "b"} << QStringLiteral("a") << QStringList{"a", "b"};
    QTest::newRow("empty list") << QStringList() << QStringLiteral("a") << QStringList{"a"};
    QTest::newRow("case differs") << QStringList{"a"} << QStringLiteral("A") << QStringList{"a", "A"};
}

void CollectionsTest::addingNewObject()
{
    QFETCH(QStringList, list);
    QFETCH(QString, object);
    QFETCH(QStringList, expected);
    const QStringList before = list;
    QCOMPARE(arrayByAddingNewObject(list, object), expected);
    QCOMPARE(list, before);
}

void CollectionsTest::removingIdenticalObjects()
{
    // Two objects alike in every respect but identity.
    QObject first;
    QObject twin;
    first.setObjectName(QStringLiteral("same"));
    twin.setObjectName(QStringLiteral("same"));
    const QList<QObject *> objects{&first, &twin, &first};
    QCOMPARE(arrayByRemovingObjectIdenticalTo(objects, &first), QList<QObject *>{&twin});
    QCOMPARE(arrayByRemovingObjectIdenticalTo(objects, static_cast<QObject *>(nullptr)), objects);
    QCOMPARE(objects.size(), 3);

    // Values have no identity; every equal one goes.
    QCOMPARE(arrayByRemovingObjectIdenticalTo(QStringList{"a", "b", "a"}, QStringLiteral("a")), QStringList{"b"});
}

void CollectionsTest::moveObject_data()
{
    QTest::addColumn<quint64>("from");
    QTest::addColumn<quint64>("to");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("forward") << quint64(0) << quint64(2) << QStringList{"b", "c", "a", "d"};
    QTest::newRow("backward") << quint64(3) << quint64(1) << QStringList{"a", "d", "b", "c"};
    QTest::newRow("same place") << quint64(1) << quint64(1) << QStringList{"a", "b", "c", "d"};
    QTest::newRow("to the new count appends") << quint64(1) << quint64(3) << QStringList{"a", "c", "d", "b"};
    QTest::newRow("far past the end appends") << quint64(0) << quint64(99) << QStringList{"b", "c", "d", "a"};
    QTest::newRow("bad source changes nothing") << quint64(4) << quint64(0) << QStringList{"a", "b", "c", "d"};
}

void CollectionsTest::moveObject()
{
    QFETCH(quint64, from);
    QFETCH(quint64, to);
    QFETCH(QStringList, expected);
    QStringList list{"a", "b", "c", "d"};
    moveObjectAtIndex(list, from, to);
    QCOMPARE(list, expected);
}

void CollectionsTest::extentsOfValues_data()
{
    QTest::addColumn<IntList>("values");
    QTest::addColumn<qint64>("minimum");
    QTest::addColumn<qint64>("maximum");
    QTest::addColumn<qint64>("difference");
    QTest::newRow("empty: sentinels") << IntList() << qint64(2147483647) << qint64(-2147483648LL) << qint64(-1);
    QTest::newRow("one value") << IntList{7} << qint64(7) << qint64(7) << qint64(0);
    QTest::newRow("mixed signs") << IntList{3, -4, 10, 0} << qint64(-4) << qint64(10) << qint64(14);
    QTest::newRow("full 32-bit range") << IntList{std::numeric_limits<int>::max(), std::numeric_limits<int>::min()}
                                       << qint64(-2147483648LL) << qint64(2147483647) << qint64(4294967295LL);
}

void CollectionsTest::extentsOfValues()
{
    QFETCH(IntList, values);
    QFETCH(qint64, minimum);
    QFETCH(qint64, maximum);
    QFETCH(qint64, difference);
    const Extents extents = calculateExtentsOfValues(values, [](int v) { return v; });
    QCOMPARE(extents.minimum, minimum);
    QCOMPARE(extents.maximum, maximum);
    QCOMPARE(extents.difference, difference);
}

void CollectionsTest::extentsOfPoints_data()
{
    using Points = QList<std::pair<qint64, qint64>>;
    QTest::addColumn<Points>("points");
    QTest::addColumn<qint64>("minX");
    QTest::addColumn<qint64>("maxX");
    QTest::addColumn<qint64>("minY");
    QTest::addColumn<qint64>("maxY");
    QTest::addColumn<qint64>("diffX");
    QTest::addColumn<qint64>("diffY");
    QTest::newRow("empty: sentinels") << Points() << qint64(2147483647) << qint64(-2147483648LL) << qint64(2147483647)
                                      << qint64(-2147483648LL) << qint64(-1) << qint64(-1);
    QTest::newRow("per coordinate") << Points{{1, 50}, {-3, 20}, {8, 30}} << qint64(-3) << qint64(8) << qint64(20)
                                    << qint64(50) << qint64(11) << qint64(30);
    // The minimum starts at the 32-bit sentinel, so a larger coordinate
    // never lowers it.
    QTest::newRow("beyond 32 bits") << Points{{5000000000LL, -5000000000LL}} << qint64(2147483647) << qint64(5000000000LL)
                                    << qint64(-5000000000LL) << qint64(-2147483648LL) << qint64(5000000000LL - 2147483647)
                                    << qint64(-2147483648LL + 5000000000LL);
    QTest::newRow("difference saturates")
        << Points{{std::numeric_limits<qint64>::max(), 0}, {std::numeric_limits<qint64>::min(), 0}}
        << std::numeric_limits<qint64>::min() << std::numeric_limits<qint64>::max() << qint64(0) << qint64(0)
        << std::numeric_limits<qint64>::max() << qint64(0);
}

void CollectionsTest::extentsOfPoints()
{
    using Points = QList<std::pair<qint64, qint64>>;
    QFETCH(Points, points);
    QFETCH(qint64, minX);
    QFETCH(qint64, maxX);
    QFETCH(qint64, minY);
    QFETCH(qint64, maxY);
    QFETCH(qint64, diffX);
    QFETCH(qint64, diffY);
    const PointExtents extents =
        calculateExtentsOfPoints(points, [](const std::pair<qint64, qint64> &p) { return Int64Point{p.first, p.second}; });
    QCOMPARE(extents.minimum, (Int64Point{minX, minY}));
    QCOMPARE(extents.maximum, (Int64Point{maxX, maxY}));
    QCOMPARE(extents.difference, (Int64Point{diffX, diffY}));
}

void CollectionsTest::containsDictionaryWithKey_data()
{
    QTest::addColumn<QVariantList>("records");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<bool>("contains");
    const QVariantList records{record("a", 1), record("b", QVariant()), QStringLiteral("not a record"), record("c", 3.0)};
    QTest::newRow("present") << records << QStringLiteral("name") << QVariant(QStringLiteral("b")) << true;
    QTest::newRow("absent value") << records << QStringLiteral("name") << QVariant(QStringLiteral("z")) << false;
    QTest::newRow("numbers compare by value") << records << QStringLiteral("size") << QVariant(3) << true;
    QTest::newRow("missing field never matches nothing") << records << QStringLiteral("size") << QVariant() << false;
    QTest::newRow("unknown key") << records << QStringLiteral("colour") << QVariant(QStringLiteral("a")) << false;
    QTest::newRow("empty list") << QVariantList() << QStringLiteral("name") << QVariant(QStringLiteral("a")) << false;
}

void CollectionsTest::containsDictionaryWithKey()
{
    QFETCH(QVariantList, records);
    QFETCH(QString, key);
    QFETCH(QVariant, value);
    QFETCH(bool, contains);
    QCOMPARE(kestrum::containsDictionaryWithKey(records, key, value), contains);

    QList<QVariantMap> maps;
    for (const QVariant &r : records)
        maps.append(r.toMap());
    QCOMPARE(kestrum::containsDictionaryWithKey(maps, key, value), contains);
}

void CollectionsTest::sortedByKey_data()
{
    QTest::addColumn<QVariantList>("records");
    QTest::addColumn<QString>("key");
    QTest::addColumn<bool>("ascending");
    QTest::addColumn<QStringList>("order");
    const QVariantList sizes{record("b", 20), record("a", 3.5), record("c", qint64(1) << 40), record("d", -1)};
    QTest::newRow("numbers ascending") << sizes << QStringLiteral("size") << true << QStringList{"d", "a", "b", "c"};
    QTest::newRow("numbers descending") << sizes << QStringLiteral("size") << false << QStringList{"c", "b", "a", "d"};
    QTest::newRow("texts by code unit") << QVariantList{record("b", {}), record("B", {}), record("a", {})}
                                        << QStringLiteral("name") << true << QStringList{"B", "a", "b"};
    QTest::newRow("absent values first") << QVariantList{record("x", 1), record("y", {}), record("z", 0)}
                                         << QStringLiteral("size") << true << QStringList{"y", "z", "x"};
    QTest::newRow("absent values last descending") << QVariantList{record("x", 1), record("y", {}), record("z", 0)}
                                                   << QStringLiteral("size") << false << QStringList{"x", "z", "y"};
    QTest::newRow("mixed kinds: numbers before texts")
        << QVariantList{record("t", QStringLiteral("10")), record("n", 2), record("nan", std::nan(""))}
        << QStringLiteral("size") << true << QStringList{"n", "nan", "t"};
    QTest::newRow("equal values keep order") << QVariantList{record("1", 5), record("2", 5), record("3", 4)}
                                             << QStringLiteral("size") << true << QStringList{"3", "1", "2"};
    QTest::newRow("empty") << QVariantList() << QStringLiteral("size") << true << QStringList();
}

void CollectionsTest::sortedByKey()
{
    QFETCH(QVariantList, records);
    QFETCH(QString, key);
    QFETCH(bool, ascending);
    QFETCH(QStringList, order);
    QCOMPARE(names(sortedArrayByKey(records, key, ascending)), order);
    if (ascending)
        QCOMPARE(names(sortedArrayByKey(records, key)), order);
}

void CollectionsTest::sortedByKeyPathAndRecords()
{
    // A dotted key path descends into nested maps.
    const QVariantList nested{QVariantMap{{"name", "late"}, {"info", QVariantMap{{"date", 2024}}}},
                              QVariantMap{{"name", "early"}, {"info", QVariantMap{{"date", 1999}}}}};
    QCOMPARE(names(sortedArrayByKey(nested, QStringLiteral("info.date"))), QStringList({"early", "late"}));

    // Package records sort by their fields like maps do.
    const QList<dorvane::PackageRecord> packages{
        dorvane::PackageRecord({{dorvane::PackageKey::PackageIdentifier, "com.b"}}),
        dorvane::PackageRecord({{dorvane::PackageKey::PackageIdentifier, "com.a"}})};
    const auto sorted = sortedArrayByKey(packages, dorvane::PackageKey::PackageIdentifier);
    QCOMPARE(sorted.first().packageIdentifier(), QStringLiteral("com.a"));
    QVERIFY(kestrum::containsDictionaryWithKey(packages, dorvane::PackageKey::PackageIdentifier, QStringLiteral("com.b")));
}

void CollectionsTest::subarrays_data()
{
    QTest::addColumn<quint64>("index");
    QTest::addColumn<QStringList>("from");
    QTest::addColumn<QStringList>("to");
    QTest::newRow("start") << quint64(0) << QStringList{"a", "b", "c"} << QStringList();
    QTest::newRow("middle") << quint64(1) << QStringList{"b", "c"} << QStringList{"a"};
    QTest::newRow("last") << quint64(2) << QStringList{"c"} << QStringList{"a", "b"};
    QTest::newRow("count") << quint64(3) << QStringList() << QStringList{"a", "b", "c"};
    QTest::newRow("past the count") << quint64(7) << QStringList() << QStringList{"a", "b", "c"};
}

void CollectionsTest::subarrays()
{
    QFETCH(quint64, index);
    QFETCH(QStringList, from);
    QFETCH(QStringList, to);
    const QStringList list{"a", "b", "c"};
    QCOMPARE(subarrayFromIndex(list, index), from);
    QCOMPARE(subarrayToIndex(list, index), to);
}

// The program reads a package record's fields by their key names through
// PackageRecord's typed accessors; each answers the key of its own name,
// and an absent key reads as no value.
void CollectionsTest::recordFieldsByName_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QVariant>("stored");
    QTest::addColumn<QVariant>("answered");

    using namespace dorvane;
    const QStringList apps{"A.app", "B.app"};
    QTest::newRow("PackageIdentifier") << PackageKey::PackageIdentifier << QVariant("com.x.pkg") << QVariant("com.x.pkg");
    QTest::newRow("PackageVersion") << PackageKey::PackageVersion << QVariant("1.2") << QVariant("1.2");
    QTest::newRow("InstallProcessName") << PackageKey::InstallProcessName << QVariant("installer") << QVariant("installer");
    QTest::newRow("PackageFileName") << PackageKey::PackageFileName << QVariant("x.pkg") << QVariant("x.pkg");
    QTest::newRow("PlistPath") << PackageKey::PlistPath << QVariant("/r/x.plist") << QVariant("/r/x.plist");
    QTest::newRow("BOMPath") << PackageKey::BOMPath << QVariant("/r/x.bom") << QVariant("/r/x.bom");
    QTest::newRow("PKGPath") << PackageKey::PKGPath << QVariant("/L/R/x.pkg") << QVariant("/L/R/x.pkg");
    QTest::newRow("IconPath") << PackageKey::IconPath << QVariant("/i.icns") << QVariant("/i.icns");
    QTest::newRow("AppNames") << PackageKey::AppNames << QVariant(apps) << QVariant(apps);
    QTest::newRow("AppPaths") << PackageKey::AppPaths << QVariant(apps) << QVariant(apps);
    QTest::newRow("AppBuIDs") << PackageKey::AppBuIDs << QVariant(apps) << QVariant(apps);
    QTest::newRow("UserPrefix") << PackageKey::UserPrefix << QVariant(true) << QVariant(true);
    QTest::newRow("IsDamaged") << PackageKey::IsDamaged << QVariant(true) << QVariant(true);
}

void CollectionsTest::recordFieldsByName()
{
    QFETCH(QString, key);
    QFETCH(QVariant, stored);
    QFETCH(QVariant, answered);
    using namespace dorvane;

    auto field = [&key](const PackageRecord &r) -> QVariant {
        if (key == PackageKey::PackageIdentifier) return r.packageIdentifier();
        if (key == PackageKey::PackageVersion) return r.packageVersion();
        if (key == PackageKey::InstallProcessName) return r.installProcessName();
        if (key == PackageKey::PackageFileName) return r.packageFileName();
        if (key == PackageKey::PlistPath) return r.plistPath();
        if (key == PackageKey::BOMPath) return r.bomPath();
        if (key == PackageKey::PKGPath) return r.pkgPath();
        if (key == PackageKey::IconPath) return r.iconPath();
        if (key == PackageKey::AppNames) return r.appNames();
        if (key == PackageKey::AppPaths) return r.appPaths();
        if (key == PackageKey::AppBuIDs) return r.appBuIDs();
        if (key == PackageKey::UserPrefix) return r.hasUserPrefix();
        if (key == PackageKey::IsDamaged) return r.isDamaged();
        return QVariant();
    };

    // The record holds every key; each accessor must find its own among them.
    QVariantMap all{{PackageKey::PackageIdentifier, "id"}, {PackageKey::PackageVersion, "v"},
                    {PackageKey::InstallProcessName, "p"}, {PackageKey::PackageFileName, "f"},
                    {PackageKey::PlistPath, "pl"}, {PackageKey::BOMPath, "bo"}, {PackageKey::PKGPath, "pk"},
                    {PackageKey::IconPath, "ic"},
                    {PackageKey::AppNames, QStringList{"n"}}, {PackageKey::AppPaths, QStringList{"p"}},
                    {PackageKey::AppBuIDs, QStringList{"b"}}, {PackageKey::UserPrefix, false},
                    {PackageKey::IsDamaged, false}};
    all.insert(key, stored);
    QCOMPARE(field(PackageRecord(all)), answered);
    QCOMPARE(PackageRecord(all).value(key), stored);

    // Absent, the field reads as the empty value of its type.
    QCOMPARE(field(PackageRecord()), QVariant(answered.metaType()));
}

QTEST_GUILESS_MAIN(CollectionsTest)
#include "tst_collections.moc"
