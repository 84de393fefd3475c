#include "kestrum/StringUtilities.h"

#include <QTest>

using namespace kestrum;

using Rows = QList<QStringList>;

class StringsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void literalString_data();
    void literalString();
    void replaceMultipleStrings_data();
    void replaceMultipleStrings();
    void capitalizedWithUppercaseWords_data();
    void capitalizedWithUppercaseWords();
    void titlecase_data();
    void titlecase();
    void titlecaseWithBothLists();
    void propercase_data();
    void propercase();
    void validEmail_data();
    void validEmail();
    void numberTests_data();
    void numberTests();
    void countOccurences_data();
    void countOccurences();
    void words_data();
    void words();
    void lines_data();
    void lines();
    void clamp_data();
    void clamp();
    void trimmingInSet_data();
    void trimmingInSet();
    void trimmingWithPredicate();
    void dataFromHex_data();
    void dataFromHex();
    void dataFromHexWithoutUtf8Form();
    void parsedDSV_data();
    void parsedDSV();
    void escaped_data();
    void escaped();
};

void StringsTest::literalString_data()
{
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<QString>("expected");

    QTest::newRow("text, inner quotes kept") << QVariant(QStringLiteral("say \"hi\"")) << QStringLiteral("@\"say \"hi\"\"");
    QTest::newRow("empty text") << QVariant(QString()) << QStringLiteral("@\"\"");
    QTest::newRow("integer") << QVariant(42) << QStringLiteral("@(42)");
    QTest::newRow("negative 64-bit") << QVariant(qint64(-5000000000)) << QStringLiteral("@(-5000000000)");
    QTest::newRow("double") << QVariant(1.5) << QStringLiteral("@(1.5)");
    QTest::newRow("boolean as number") << QVariant(true) << QStringLiteral("@(1)");
    QTest::newRow("empty array") << QVariant(QVariantList()) << QStringLiteral("@[]");
    QTest::newRow("empty dictionary") << QVariant(QVariantMap()) << QStringLiteral("@{}");
    QTest::newRow("array")
        << QVariant(QVariantList{QStringLiteral("a"), 1, QVariantList{QStringLiteral("b")}})
        << QStringLiteral("@[@\"a\", @(1), @[@\"b\"]]");
    QTest::newRow("one-element array") << QVariant(QVariantList{7}) << QStringLiteral("@[@(7)]");
    QTest::newRow("string list") << QVariant(QStringList{QStringLiteral("x"), QStringLiteral("y")})
                                 << QStringLiteral("@[@\"x\", @\"y\"]");
    QTest::newRow("dictionary in key order")
        << QVariant(QVariantMap{{QStringLiteral("b"), 2}, {QStringLiteral("a"), QStringLiteral("x")}})
        << QStringLiteral("@{@\"a\" : @\"x\", @\"b\" : @(2)}");
    QTest::newRow("nested empties")
        << QVariant(QVariantList{QVariantMap{{QStringLiteral("k"), QVariantList()}}, QVariantMap()})
        << QStringLiteral("@[@{@\"k\" : @[]}, @{}]");
}

void StringsTest::literalString()
{
    QFETCH(QVariant, value);
    QFETCH(QString, expected);
    QCOMPARE(kestrum::literalString(value), expected);
    // The typed overloads give the same text as the QVariant one.
    switch (value.typeId()) {
    case QMetaType::QString:
        QCOMPARE(kestrum::literalString(value.toString()), expected);
        break;
    case QMetaType::QVariantList:
        QCOMPARE(kestrum::literalString(value.toList()), expected);
        break;
    case QMetaType::QVariantMap:
        QCOMPARE(kestrum::literalString(value.toMap()), expected);
        break;
    default:
        break;
    }
}

void StringsTest::replaceMultipleStrings_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QVariantMap>("replacements");
    QTest::addColumn<QString>("expected");

    QTest::newRow("swap a and b") << QStringLiteral("ab")
                                  << QVariantMap{{QStringLiteral("a"), QStringLiteral("b")}, {QStringLiteral("b"), QStringLiteral("a")}}
                                  << QStringLiteral("ba");
    QTest::newRow("value not searched again")
        << QStringLiteral("cat") << QVariantMap{{QStringLiteral("cat"), QStringLiteral("dog")}, {QStringLiteral("dog"), QStringLiteral("bird")}}
        << QStringLiteral("dog");
    QTest::newRow("every occurrence") << QStringLiteral("one two one three")
                                      << QVariantMap{{QStringLiteral("one"), QStringLiteral("1")}, {QStringLiteral("two"), QStringLiteral("2")}}
                                      << QStringLiteral("1 2 1 three");
    QTest::newRow("keys marked in key order")
        << QStringLiteral("abc") << QVariantMap{{QStringLiteral("ab"), QStringLiteral("X")}, {QStringLiteral("bc"), QStringLiteral("Y")}}
        << QStringLiteral("Xc");
    QTest::newRow("absent value skipped")
        << QStringLiteral("abc") << QVariantMap{{QStringLiteral("a"), QVariant()}, {QStringLiteral("b"), QStringLiteral("x")}}
        << QStringLiteral("axc");
    QTest::newRow("null value skipped")
        << QStringLiteral("abc") << QVariantMap{{QStringLiteral("a"), QVariant::fromValue(nullptr)}, {QStringLiteral("c"), QStringLiteral("z")}}
        << QStringLiteral("abz");
    QTest::newRow("empty key skipped") << QStringLiteral("abc") << QVariantMap{{QString(), QStringLiteral("x")}}
                                       << QStringLiteral("abc");
    QTest::newRow("no replacements") << QStringLiteral("abc") << QVariantMap() << QStringLiteral("abc");
    QTest::newRow("replacement by nothing") << QStringLiteral("a-b-c") << QVariantMap{{QStringLiteral("-"), QString()}}
                                            << QStringLiteral("abc");
    // Keys made of letters and digits a marker might use must not cut
    // into each other's markers.
    QTest::newRow("single letters and digits as keys")
        << QStringLiteral("Zq8 and Xv3")
        << QVariantMap{{QStringLiteral("Z"), QStringLiteral("z")}, {QStringLiteral("q"), QStringLiteral("Q")}, {QStringLiteral("8"), QStringLiteral("eight")},
                       {QStringLiteral("X"), QStringLiteral("x")}, {QStringLiteral("3"), QStringLiteral("three")}}
        << QStringLiteral("zQeight and xvthree");
    // A value that happens to hold the usual marker behind another key
    // must come through literally.
    QTest::newRow("value holding the usual marker")
        << QStringLiteral("ac")
        << QVariantMap{{QStringLiteral("a"), QStringLiteral("cZq8Xv3Jm6Wk1Yp4B")}, {QStringLiteral("c"), QStringLiteral("d")}}
        << QStringLiteral("cZq8Xv3Jm6Wk1Yp4Bd");
    QTest::newRow("text holding the usual marker")
        << QStringLiteral("aZq8Xv3Jm6Wk1Yp4B a") << QVariantMap{{QStringLiteral("a"), QStringLiteral("b")}}
        << QStringLiteral("bZq8Xv3Jm6Wk1Yp4B b");
}

void StringsTest::replaceMultipleStrings()
{
    QFETCH(QString, text);
    QFETCH(QVariantMap, replacements);
    QFETCH(QString, expected);
    QCOMPARE(stringByReplacingMultipleStrings(text, replacements), expected);
}

void StringsTest::capitalizedWithUppercaseWords_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("uppercase");
    QTest::addColumn<QString>("expected");

    const QStringList usb{QStringLiteral("usb")};
    QTest::newRow("listed word inside") << QStringLiteral("connect the usb cable") << usb << QStringLiteral("Connect The USB Cable");
    QTest::newRow("listed word at the end") << QStringLiteral("plug in usb") << usb << QStringLiteral("Plug In USB");
    QTest::newRow("listed word at the start stays capitalised") << QStringLiteral("usb cable") << usb << QStringLiteral("Usb Cable");
    QTest::newRow("part of a longer word") << QStringLiteral("usbkey and usb") << usb << QStringLiteral("Usbkey And USB");
    QTest::newRow("listed in upper case") << QStringLiteral("the usb port") << QStringList{QStringLiteral("USB")}
                                          << QStringLiteral("The USB Port");
    QTest::newRow("no words: capitalised only") << QStringLiteral("hELLO wORLD\tagain") << QStringList()
                                                << QStringLiteral("Hello World\tAgain");
    // Words start only after whitespace, so "(usb" is not a capitalised "Usb".
    QTest::newRow("after punctuation") << QStringLiteral("a (usb) port") << usb << QStringLiteral("A (usb) Port");
    QTest::newRow("two listed words") << QStringLiteral("the usb and pci bus") << QStringList{QStringLiteral("usb"), QStringLiteral("pci")}
                                      << QStringLiteral("The USB And PCI Bus");
    QTest::newRow("empty text") << QString() << usb << QString();
}

void StringsTest::capitalizedWithUppercaseWords()
{
    QFETCH(QString, text);
    QFETCH(QStringList, uppercase);
    QFETCH(QString, expected);
    QCOMPARE(capitalizedStringWithUppercaseWords(text, uppercase), expected);
}

void StringsTest::titlecase_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");

    QTest::newRow("the lord of the rings") << QStringLiteral("the lord of the rings") << QStringLiteral("The Lord of the Rings");
    QTest::newRow("a tale of two cities") << QStringLiteral("A TALE OF TWO CITIES") << QStringLiteral("A Tale of Two Cities");
    QTest::newRow("conjunction") << QStringLiteral("war and peace") << QStringLiteral("War and Peace");
    QTest::newRow("last word keeps its capital") << QStringLiteral("what are you up to") << QStringLiteral("What Are You up To");
    QTest::newRow("after a colon") << QStringLiteral("star wars: a new hope") << QStringLiteral("Star Wars: A New Hope");
    QTest::newRow("after a hyphen") << QStringLiteral("rock - the return") << QStringLiteral("Rock - The Return");
    QTest::newRow("after a comma") << QStringLiteral("first, the end") << QStringLiteral("First, The End");
    QTest::newRow("later words of the list") << QStringLiteral("walking upon the moon with friends")
                                             << QStringLiteral("Walking upon the Moon with Friends");
    // The list is regular-expression text: the dots of "e.g." match any
    // character, and the match becomes the listed word.
    QTest::newRow("dots match any character") << QStringLiteral("see exgy now") << QStringLiteral("See e.g. Now");
}

void StringsTest::titlecase()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(titlecaseString(text), expected);
}

void StringsTest::titlecaseWithBothLists()
{
    QCOMPARE(titlecaseStringWithLowercaseWords(QStringLiteral("the usb and the cable"),
                                               {QStringLiteral("the"), QStringLiteral("and")}, {QStringLiteral("usb")}),
             QStringLiteral("The USB and the Cable"));
    // Only listed words go to lower case.
    QCOMPARE(titlecaseStringWithLowercaseWords(QStringLiteral("the lord of the rings"), {QStringLiteral("of")}),
             QStringLiteral("The Lord of The Rings"));
}

void StringsTest::propercase_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("one character") << QStringLiteral("a") << QStringLiteral("A");
    QTest::newRow("one character with a two-letter capital") << QStringLiteral("ß") << QStringLiteral("SS");
    QTest::newRow("sentence") << QStringLiteral("hELLO wORLD") << QStringLiteral("Hello world");
    QTest::newRow("already proper") << QStringLiteral("Dorvane") << QStringLiteral("Dorvane");
}

void StringsTest::propercase()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(propercaseString(text), expected);
}

void StringsTest::validEmail_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("valid");
    const QString domain = QStringLiteral("@example.com"); // 12 characters
    QTest::newRow("plain") << QStringLiteral("user@example.com") << true;
    QTest::newRow("no at sign") << QStringLiteral("user.example.com") << false;
    QTest::newRow("two at signs") << QStringLiteral("a@b@example.com") << false;
    QTest::newRow("no dot after the at sign") << QStringLiteral("first.last@localhost") << false;
    QTest::newRow("empty local part") << QStringLiteral("@example.com") << true;
    QTest::newRow("every special local character") << QStringLiteral("a!#$%&'*+-/=?^_`{|}~.z@x.org") << true;
    QTest::newRow("space in local part") << QStringLiteral("us er@example.com") << false;
    QTest::newRow("underscore in domain") << QStringLiteral("a@ex_ample.com") << false;
    QTest::newRow("non-ASCII letter") << QStringLiteral("jörg@example.com") << false;
    QTest::newRow("254 characters") << QString(242, QLatin1Char('a')) + domain << true;
    QTest::newRow("255 characters") << QString(243, QLatin1Char('a')) + domain << false;
    QTest::newRow("empty") << QString() << false;
}

void StringsTest::validEmail()
{
    QFETCH(QString, text);
    QFETCH(bool, valid);
    QCOMPARE(isValidEmail(text), valid);
}

void StringsTest::numberTests_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("integer");
    QTest::addColumn<bool>("integerOnly");
    QTest::addColumn<bool>("floatNumber");
    QTest::newRow("empty") << QString() << false << true << false;
    QTest::newRow("digits") << QStringLiteral("123") << true << true << false;
    QTest::newRow("decimal point") << QStringLiteral("12.5") << true << false << true;
    QTest::newRow("decimal comma") << QStringLiteral("12,5") << true << false << true;
    QTest::newRow("letters") << QStringLiteral("abc") << false << false << false;
    QTest::newRow("digit among letters") << QStringLiteral("a1b") << true << false << false;
    QTest::newRow("separator without digit") << QStringLiteral(".") << false << false << false;
    QTest::newRow("minus sign") << QStringLiteral("-5") << true << false << false;
    QTest::newRow("Arabic-Indic digits") << QStringLiteral("\u0661\u0662\u0663") << true << true << false;
    QTest::newRow("non-BMP digits") << QStringLiteral("\U0001D7CE\U0001D7CF") << true << true << false;
}

void StringsTest::numberTests()
{
    QFETCH(QString, text);
    QFETCH(bool, integer);
    QFETCH(bool, integerOnly);
    QFETCH(bool, floatNumber);
    QCOMPARE(isIntegerNumber(text), integer);
    QCOMPARE(isIntegerNumberOnly(text), integerOnly);
    QCOMPARE(isFloatNumber(text), floatNumber);
}

void StringsTest::countOccurences_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("needle");
    QTest::addColumn<qsizetype>("count");
    QTest::newRow("separators") << QStringLiteral("a,b,c") << QStringLiteral(",") << qsizetype(2);
    QTest::newRow("non-overlapping") << QStringLiteral("aaa") << QStringLiteral("aa") << qsizetype(1);
    QTest::newRow("adjacent") << QStringLiteral("abcabc") << QStringLiteral("abc") << qsizetype(2);
    QTest::newRow("absent") << QStringLiteral("abc") << QStringLiteral("x") << qsizetype(0);
    QTest::newRow("empty needle") << QStringLiteral("abc") << QString() << qsizetype(0);
    QTest::newRow("empty text") << QString() << QStringLiteral("a") << qsizetype(0);
    QTest::newRow("case matters") << QStringLiteral("Aa") << QStringLiteral("a") << qsizetype(1);
}

void StringsTest::countOccurences()
{
    QFETCH(QString, text);
    QFETCH(QString, needle);
    QFETCH(qsizetype, count);
    QCOMPARE(countOccurencesOfString(text, needle), count);
}

void StringsTest::words_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("one space") << QStringLiteral("a b") << QStringList{"a", "b"};
    QTest::newRow("two spaces give an empty piece") << QStringLiteral("a  b") << QStringList{"a", "", "b"};
    QTest::newRow("tab") << QStringLiteral("a\tb") << QStringList{"a", "b"};
    QTest::newRow("no-break space") << QStringLiteral("a\u00a0b") << QStringList{"a", "b"};
    QTest::newRow("leading space") << QStringLiteral(" a") << QStringList{"", "a"};
    QTest::newRow("line break is not a separator") << QStringLiteral("a\nb") << QStringList{"a\nb"};
    QTest::newRow("empty") << QString() << QStringList{""};
}

void StringsTest::words()
{
    QFETCH(QString, text);
    QFETCH(QStringList, expected);
    QCOMPARE(kestrum::words(text), expected);
}

void StringsTest::lines_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("line feed") << QStringLiteral("a\nb") << QStringList{"a", "b"};
    QTest::newRow("CRLF gives an empty piece") << QStringLiteral("a\r\nb") << QStringList{"a", "", "b"};
    QTest::newRow("carriage return") << QStringLiteral("a\rb") << QStringList{"a", "b"};
    QTest::newRow("line separator") << QStringLiteral("a\u2028b\u0085c") << QStringList{"a", "b", "c"};
    QTest::newRow("trailing break") << QStringLiteral("a\n") << QStringList{"a", ""};
    QTest::newRow("space is not a break") << QStringLiteral("a b") << QStringList{"a b"};
    QTest::newRow("empty") << QString() << QStringList{""};
}

void StringsTest::lines()
{
    QFETCH(QString, text);
    QFETCH(QStringList, expected);
    QCOMPARE(kestrum::lines(text), expected);
}

void StringsTest::clamp_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<quint64>("length");
    QTest::addColumn<QString>("expected");
    QTest::newRow("longer") << QStringLiteral("hello") << quint64(3) << QStringLiteral("hel");
    QTest::newRow("exactly") << QStringLiteral("abc") << quint64(3) << QStringLiteral("abc");
    QTest::newRow("shorter") << QStringLiteral("hi") << quint64(3) << QStringLiteral("hi");
    QTest::newRow("zero") << QStringLiteral("abc") << quint64(0) << QString();
    QTest::newRow("huge length") << QStringLiteral("abc") << std::numeric_limits<quint64>::max() << QStringLiteral("abc");
}

void StringsTest::clamp()
{
    QFETCH(QString, text);
    QFETCH(quint64, length);
    QFETCH(QString, expected);
    QCOMPARE(kestrum::clamp(text, length), expected);
}

void StringsTest::trimmingInSet_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("set");
    QTest::addColumn<QString>("leading");
    QTest::addColumn<QString>("trailing");
    QTest::newRow("both ends") << QStringLiteral("xxabcxx") << QStringLiteral("x") << QStringLiteral("abcxx") << QStringLiteral("xxabc");
    QTest::newRow("all in set") << QStringLiteral("xxx") << QStringLiteral("x") << QString() << QString();
    QTest::newRow("none in set") << QStringLiteral("abc") << QStringLiteral("x") << QStringLiteral("abc") << QStringLiteral("abc");
    QTest::newRow("inner ones stay") << QStringLiteral("-+a+b+-") << QStringLiteral("+-") << QStringLiteral("a+b+-")
                                     << QStringLiteral("-+a+b");
    QTest::newRow("empty text") << QString() << QStringLiteral("x") << QString() << QString();
    QTest::newRow("empty set") << QStringLiteral(" a ") << QString() << QStringLiteral(" a ") << QStringLiteral(" a ");
}

void StringsTest::trimmingInSet()
{
    QFETCH(QString, text);
    QFETCH(QString, set);
    QFETCH(QString, leading);
    QFETCH(QString, trailing);
    QCOMPARE(stringByTrimmingLeadingCharactersInSet(text, set), leading);
    QCOMPARE(stringByTrimmingTrailingCharactersInSet(text, set), trailing);
}

void StringsTest::trimmingWithPredicate()
{
    auto isSpace = [](QChar c) { return c.isSpace(); };
    QCOMPARE(stringByTrimmingLeadingCharactersInSet(QStringLiteral("\t x \n"), isSpace), QStringLiteral("x \n"));
    QCOMPARE(stringByTrimmingTrailingCharactersInSet(QStringLiteral("\t x \n"), isSpace), QStringLiteral("\t x"));
    QCOMPARE(stringByTrimmingLeadingCharactersInSet(QStringLiteral(" \n"), isSpace), QString());
}

void StringsTest::dataFromHex_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("five characters") << QStringLiteral("0aff1") << QByteArray("\x0a\xff", 2);
    QTest::newRow("upper and lower case") << QStringLiteral("ABcd") << QByteArray("\xab\xcd", 2);
    QTest::newRow("empty") << QString() << QByteArray();
    QTest::newRow("one character") << QStringLiteral("f") << QByteArray();
    QTest::newRow("second digit invalid") << QStringLiteral("fz") << QByteArray("\x0f", 1);
    QTest::newRow("first digit invalid") << QStringLiteral("g1") << QByteArray("\x00", 1);
    QTest::newRow("no prefix understood") << QStringLiteral("0x1f") << QByteArray("\x00\x1f", 2);
    QTest::newRow("no separators understood") << QStringLiteral("0a 0b") << QByteArray("\x0a\x00", 2);
    QTest::newRow("non-ASCII counts bytes") << QStringLiteral("é1") << QByteArray("\x00", 1);
}

void StringsTest::dataFromHex()
{
    QFETCH(QString, text);
    QFETCH(QByteArray, expected);
    const std::optional<QByteArray> bytes = dataFromHexString(text);
    QVERIFY(bytes.has_value());
    QCOMPARE(*bytes, expected);
}

void StringsTest::dataFromHexWithoutUtf8Form()
{
    // An unpaired surrogate has no UTF-8 form.
    QVERIFY(!dataFromHexString(QStringLiteral("0a") + QChar(0xD800)).has_value());
}

void StringsTest::parsedDSV_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("delimiter");
    QTest::addColumn<Rows>("expected");
    const QString comma = QStringLiteral(",");

    QTest::newRow("empty field, quoted comma")
        << QStringLiteral("a,b,,c\n\"x,y\",z") << comma
        << Rows{{"a", "b", "", "c"}, {"x,y", "z"}};
    QTest::newRow("line break and doubled quote inside quotes")
        << QStringLiteral("\"line1\nline2\",\"say \"\"hi\"\"\"") << comma << Rows{{"line1\nline2", "say \"hi\""}};
    QTest::newRow("blank lines produce nothing") << QStringLiteral("a\n\n\nb\n") << comma << Rows{{"a"}, {"b"}};
    QTest::newRow("empty last field dropped") << QStringLiteral("a,b,\nc") << comma << Rows{{"a", "b"}, {"c"}};
    QTest::newRow("spaces after a delimiter dropped, before kept") << QStringLiteral("a ,  b") << comma << Rows{{"a ", "b"}};
    QTest::newRow("CRLF") << QStringLiteral("a,b\r\nc,d\r\n") << comma << Rows{{"a", "b"}, {"c", "d"}};
    QTest::newRow("only delimiters") << QStringLiteral(",,") << comma << Rows{{"", ""}};
    QTest::newRow("quoted empty field") << QStringLiteral("\"\",x") << comma << Rows{{"", "x"}};
    QTest::newRow("unterminated quote") << QStringLiteral("\"abc") << comma << Rows{{"abc"}};
    QTest::newRow("quotes inside a field") << QStringLiteral("ab\"c\"d") << comma << Rows{{"abcd"}};
    QTest::newRow("tab delimiter") << QStringLiteral("a\tb\t c") << QStringLiteral("\t") << Rows{{"a", "b", "c"}};
    QTest::newRow("two-character delimiter") << QStringLiteral("a::b:c") << QStringLiteral("::") << Rows{{"a", "b:c"}};
    QTest::newRow("empty text") << QString() << comma << Rows{};
    QTest::newRow("empty delimiter") << QStringLiteral("a,b\nc") << QString() << Rows{{"a,b"}, {"c"}};
}

void StringsTest::parsedDSV()
{
    QFETCH(QString, text);
    QFETCH(QString, delimiter);
    QFETCH(Rows, expected);
    QCOMPARE(parsedDSVWithDelimiter(text, delimiter), expected);
}

void StringsTest::escaped_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");
    QTest::newRow("space") << QStringLiteral("a b") << QStringLiteral("a%20b");
    QTest::newRow("query characters stay") << QStringLiteral("a&b=c?d/e:f@g!$'()*+,;") << QStringLiteral("a&b=c?d/e:f@g!$'()*+,;");
    QTest::newRow("unreserved stay") << QStringLiteral("Az09-._~") << QStringLiteral("Az09-._~");
    QTest::newRow("percent sign") << QStringLiteral("100%") << QStringLiteral("100%25");
    QTest::newRow("fragment and brackets") << QStringLiteral("#[]") << QStringLiteral("%23%5B%5D");
    QTest::newRow("quotes and angle brackets") << QStringLiteral("\"<>") << QStringLiteral("%22%3C%3E");
    QTest::newRow("UTF-8") << QStringLiteral("é\n") << QStringLiteral("%C3%A9%0A");
}

void StringsTest::escaped()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    QCOMPARE(kestrum::escaped(text), expected);
}

QTEST_GUILESS_MAIN(StringsTest)
#include "tst_strings.moc"
