#include "kestrum/CollectionUtilities.h"
#include "kestrum/DataUtilities.h"
#include "kestrum/DateUtilities.h"
#include "kestrum/ObjectUtilities.h"
#include "kestrum/Predicate.h"
#include "kestrum/StringUtilities.h"
#include "support/LogRing.h"
#include "support/VolumeFixture.h"

#include <QBuffer>
#include <QTest>
#include <QTimer>

using namespace kestrum;

using Rows = QList<QStringList>;

// The list, text and data helpers, row by row, at the edges where a small
// slip (an off-by-one, a lost quote, a greedy match) changes the answer.
class UtilitiesTest : public QObject
{
    Q_OBJECT

    std::unique_ptr<VolumeFixture> m_volume; // the log ring lives in the user defaults

private Q_SLOTS:
    void initTestCase() { m_volume = std::make_unique<VolumeFixture>(); }

    void delimitedText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("delimiter");
        QTest::addColumn<Rows>("rows");
        QTest::newRow("empty field, quoted comma")
            << "a,b,,c\n\"x, y\",z" << "," << Rows{{"a", "b", "", "c"}, {"x, y", "z"}};
        QTest::newRow("line break and doubled quote inside quotes")
            << "\"one\ntwo\",\"say \"\"hi\"\"\"" << "," << Rows{{"one\ntwo", "say \"hi\""}};
        QTest::newRow("blank lines and CRLF make no rows") << "a\r\n\r\n\nb" << "," << Rows{{"a"}, {"b"}};
        QTest::newRow("space after the delimiter goes, before it stays")
            << "a ,  b,\tc" << "," << Rows{{"a ", "b", "c"}};
        QTest::newRow("empty last field dropped") << "a,b,\nc" << "," << Rows{{"a", "b"}, {"c"}};
        QTest::newRow("two-character delimiter") << "a::b:c" << "::" << Rows{{"a", "b:c"}};
        QTest::newRow("nothing") << "" << "," << Rows{};
    }
    void delimitedText()
    {
        QFETCH(QString, text);
        QFETCH(QString, delimiter);
        QFETCH(Rows, rows);
        QCOMPARE(parsedDSVWithDelimiter(text, delimiter), rows);
    }

    void titleCase_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("small words inside") << "the lord of the rings" << "The Lord of the Rings";
        QTest::newRow("after a colon, and last") << "war and peace: a tale to think of"
                                                 << "War and Peace: A Tale to Think Of";
        QTest::newRow("after a hyphen and a comma") << "x - a b, the c" << "X - A B, The C";
        QTest::newRow("matches do not overlap") << "x a a y" << "X a A Y";
        QTest::newRow("dots match any character") << "see eXg. this" << "See e.g. This";
        QTest::newRow("mixed case is lowered") << "hELLO wORLD" << "Hello World";
    }
    void titleCase()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(titlecaseString(text), expected);
    }

    void capitalisation_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("upper");
        QTest::addColumn<QString>("expected");
        QTest::newRow("inside") << "connect the usb cable" << QStringList{"usb"} << "Connect The USB Cable";
        QTest::newRow("at the end") << "plug in usb" << QStringList{"usb"} << "Plug In USB";
        QTest::newRow("at the start stays capitalised") << "usb first" << QStringList{"usb"} << "Usb First";
        QTest::newRow("part of a word") << "usbkey, usb." << QStringList{"usb"} << "Usbkey, USB.";
        QTest::newRow("no words") << "a-b c" << QStringList{} << "A-b C";
    }
    void capitalisation()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, upper);
        QFETCH(QString, expected);
        QCOMPARE(capitalizedStringWithUppercaseWords(text, upper), expected);
    }

    void propercase_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("expected");
        QTest::newRow("empty") << "" << "";
        QTest::newRow("one character") << "x" << "X";
        QTest::newRow("the rest lowered") << "hELLO wORLD" << "Hello world";
    }
    void propercase()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        QCOMPARE(propercaseString(text), expected);
    }

    void email_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        const QString domain = "@example.org";
        QTest::newRow("plain") << "ann.lee+tag" + domain << true;
        QTest::newRow("no at sign") << "ann.example.org" << false;
        QTest::newRow("two at signs") << "ann@lee.org" + domain << false;
        QTest::newRow("no dot after the at sign") << "ann@example" << false;
        QTest::newRow("empty local part") << domain << true;
        QTest::newRow("space in the local part") << "ann lee" + domain << false;
        QTest::newRow("underscore in the domain") << "ann@ex_ample.org" << false;
        QTest::newRow("local symbols") << "!#$%&'*+-/=?^_`{|}~" + domain << true;
        QTest::newRow("254 characters") << QString(254 - domain.size(), 'a') + domain << true;
        QTest::newRow("255 characters") << QString(255 - domain.size(), 'a') + domain << false;
    }
    void email()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        QCOMPARE(isValidEmail(text), valid);
    }

    void hex_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("odd length: the last digit is ignored") << "0aff1" << QByteArray("\x0a\xff", 2);
        QTest::newRow("upper case") << "FF00" << QByteArray("\xff\x00", 2);
        QTest::newRow("bad second digit keeps the first") << "1g" << QByteArray("\x01", 1);
        QTest::newRow("bad first digit gives 0") << "g1zz" << QByteArray("\x00\x00", 2);
        QTest::newRow("prefix not understood") << "0x41" << QByteArray("\x00\x41", 2);
        QTest::newRow("counted in UTF-8 bytes") << "\u00e90a" << QByteArray("\x00\x0a", 2);
        QTest::newRow("empty") << "" << QByteArray();
    }
    void hex()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        QCOMPARE(dataFromHexString(text).value_or("no UTF-8 form"), bytes);
        if (bytes.toHex() == text.toLower().toLatin1())
            QCOMPARE(hexString(bytes), text.toLower()); // and back
    }

    void safeAccess_data()
    {
        QTest::addColumn<quint64>("index");
        QTest::addColumn<QString>("expected");
        QTest::newRow("first") << quint64(0) << "a";
        QTest::newRow("last") << quint64(2) << "c";
        QTest::newRow("the count") << quint64(3) << "";
        QTest::newRow("beyond any size") << ~quint64(0) << "";
    }
    void safeAccess()
    {
        QFETCH(quint64, index);
        QFETCH(QString, expected);
        const QStringList list{"a", "b", "c"};
        QCOMPARE(safeStringAtIndex(list, index), expected);
        QCOMPARE(safeObjectAtIndex(list, index).has_value(), !expected.isEmpty());
        QCOMPARE(safeObjectAtIndex(list, index).value_or("none"), expected.isEmpty() ? "none" : expected);
        QCOMPARE(safeStringAtIndex(QVariantList{1, 2, 3}, index), expected.isEmpty() ? "" : QString::number(index + 1));
    }

    void predicate_data()
    {
        QTest::addColumn<QByteArray>("format");
        QTest::addColumn<QVariant>("element");
        QTest::addColumn<bool>("satisfied");
        const QVariantMap tile{{"tile-data", QVariantMap{{"file-data", QVariantMap{{"url", "file:///A/B.app/"}}}}}};
        QTest::newRow("begins, any case and accents")
            << QByteArray("self BEGINSWITH[cd] %@") << QVariant("dörvane_x.crash") << true;
        QTest::newRow("begins later") << QByteArray("self BEGINSWITH[cd] %@") << QVariant("x_Dorvane.crash") << false;
        QTest::newRow("begins, case kept") << QByteArray("SELF beginswith %@") << QVariant("dorvane") << false;
        QTest::newRow("begins, accents kept") << QByteArray("self BEGINSWITH[c] %@") << QVariant("dörvane") << false;
        QTest::newRow("not contains at a key path") << QByteArray("not %K CONTAINS %@") << QVariant(tile) << false;
        QTest::newRow("absent key path is kept") << QByteArray("not %K CONTAINS %@") << QVariant(QVariantMap()) << true;
        const QVariantMap bytesTile{
            {"tile-data", QVariantMap{{"file-data", QVariantMap{{"url", QByteArray("B.app")}}}}}};
        QTest::newRow("bytes are no text") << QByteArray("%K CONTAINS %@") << QVariant(bytesTile) << false;
        QTest::newRow("equal ignoring case") << QByteArray("self ==[c] %@") << QVariant("DORVANE") << true;
        QTest::newRow("not equal") << QByteArray("self != %@") << QVariant("DORVANE") << true;
        QTest::newRow("a form not understood") << QByteArray("self LIKE %@") << QVariant("Dorvane") << false;
    }
    void predicate()
    {
        QFETCH(QByteArray, format);
        QFETCH(QVariant, element);
        QFETCH(bool, satisfied);
        const Predicate p = format.contains("%K")
            ? makePredicate(format.constData(), "tile-data.file-data.url", "B.app")
            : makePredicate(format.constData(), "Dorvane");
        QCOMPARE(p.isValid(), !format.contains("LIKE"));
        QCOMPARE(p(element), satisfied);
    }

    void predicateFilters()
    {
        QStringList names{"Dorvane.crash", "Other.crash", "DORVANE-1.crash"};
        QCOMPARE(filteredUsingPredicateString(names, "self BEGINSWITH[cd] %@", "dorvane"),
                 (QStringList{"Dorvane.crash", "DORVANE-1.crash"}));
        filterUsingPredicateString(names, "not self ENDSWITH %@", "1.crash");
        QCOMPARE(names, (QStringList{"Dorvane.crash", "Other.crash"}));
        QCOMPARE(sortedArrayByKey(QVariantList{"b", "c", "a"}, "id"), (QVariantList{"a", "b", "c"}));
    }

    void lists()
    {
        QList<int> numbers{1, 4, 6, 4};
        QVERIFY(removeObjectPassingTest(numbers, [](int n) { return n % 2 == 0; }));
        QCOMPARE(numbers, (QList<int>{1, 6, 4})); // the first match only
        QVERIFY(!removeObjectPassingTest(numbers, [](int n) { return n > 9; }));
        QCOMPARE(mapped(numbers, [](int) { return QVariant(); }), QVariantList{});
    }

    void texts()
    {
        QCOMPARE(firstCharacter("ab"), QChar('a'));
        QCOMPARE(lastCharacter("ab"), QChar('b'));
        QCOMPARE(firstCharacter(""), QChar(0));
        QCOMPARE(lastCharacter(""), QChar(0));
        QVERIFY(containsAny("installer.log", {"x", "log"}));
        QVERIFY(!containsAny("installer.log", {"", "txt"}));
        QVERIFY(stringRepresentation([](QChar c) { return c.isDigit(); }).startsWith("0123456789"));
        QCOMPARE(stringRepresentation([](QChar c) { return c.unicode() >= 0xFFFE; }), QString(QChar(0xFFFE)));
    }

    void bytes()
    {
        QBuffer buffer;
        buffer.setData(QByteArray("\x01\x00\x00\x80\x00\x00\xc0\x3f\x07", 9));
        QVERIFY(buffer.open(QIODevice::ReadOnly));
        QCOMPARE(readInt(buffer).value_or(0), qint32(0x80000001));
        QCOMPARE(readFloat(buffer).value_or(0), 1.5f);
        QVERIFY(!readInt(buffer)); // one byte left

        QCOMPARE(JSONData(QVariantMap{{"a", QVariantList{1, "x"}}}).value_or("failed"), R"({"a":[1,"x"]})");
        QVERIFY(!JSONData(QVariantList{QDateTime::currentDateTimeUtc()}));
        QVERIFY(wasLogged(LogError, "Error: JSON write fails! input"));
        QVERIFY(XMLData(QVariantList{1})->contains("<integer>1</integer>"));
        QVERIFY(!XMLData(QVariantMap{{"k", QVariant::fromValue(QSize())}}));
        QVERIFY(wasLogged(LogError, "Error: XML write fails! input"));
    }

    void dates()
    {
        QCOMPARE(dateWithPreprocessorDate("Dec  7 2026").date(), QDate(2026, 12, 7));
        QVERIFY(!dateWithPreprocessorDate("7 Dec 2026").isValid());
        const QDateTime date(QDate(2026, 3, 4), QTime(5, 6, 7));
        QCOMPARE(stringUsingFormat(date, "EEE, d MMM yyyy HH:mm:ss a"), "Wed, 4 Mar 2026 05:06:07 AM");
        QCOMPARE(stringUsingFormat(date, "G"), ""); // an era has no Qt field
        const QLocale locale;
        QCOMPARE(stringUsingDateStyle(date, QLocale::ShortFormat, QLocale::LongFormat),
                 locale.toString(date.date(), QLocale::ShortFormat) + ' '
                     + locale.toString(date.time(), QLocale::LongFormat));
        QCOMPARE(stringUsingDateStyle(date, std::nullopt, std::nullopt), "");
        QCOMPARE(formattedTimeFromTimeInterval(125.7), "2m 5s");
        QCOMPARE(formattedTimeFromTimeInterval(59.9), "59s");
    }

    void objects()
    {
        auto timer = newWith<QTimer>({{"interval", 250}, {"singleShot", true}});
        QVERIFY(timer && timer->interval() == 250 && timer->isSingleShot());
        QVERIFY(!newWith<QTimer>({{"noSuchProperty", 1}}));

        static const char otherKey[] = "HalvexAssociatedValue"; // the same text, another key
        setAssociatedValue(timer.get(), "one");
        QCOMPARE(associatedValue(timer.get()), QVariant("one"));
        QVERIFY(!associatedValueForKey(timer.get(), otherKey).isValid());
        setAssociatedValue(timer.get(), QVariant());
        QVERIFY(!associatedValue(timer.get()).isValid());
        setAssociatedValue(timer.get(), otherKey, 2);
        const QObject *gone = timer.get();
        timer.reset(); // the value goes with its object
        QVERIFY(!associatedValueForKey(gone, otherKey).isValid());

        QCOMPARE(makeColor255(255, 0, 127.5f, 255), QColor::fromRgbF(1, 0, 0.5f, 1));
        QCOMPARE(makeRectValue(1, 2, 3, 4).toRectF(), QRectF(1, 2, 3, 4));
    }
};

QTEST_GUILESS_MAIN(UtilitiesTest)
#include "tst_utilities.moc"
