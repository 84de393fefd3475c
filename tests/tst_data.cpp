#include "kestrum/DataUtilities.h"
#include "kestrum/DateUtilities.h"
#include "kestrum/Languages.h"
#include "kestrum/Log.h"
#include "platform/UserDefaults.h"
#include "support/VolumeFixture.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QTest>

#include <cmath>
#include <functional>
#include <limits>
#include <memory>

using namespace kestrum;

namespace {

constexpr int kRingSize = 10;

// The error-level log lines `action` writes, read back from the ring of the
// latest messages kept in the user defaults.
QStringList errorsLoggedBy(const std::function<void()> &action)
{
    auto &defaults = platform::UserDefaults::standard();
    QStringList before;
    for (int i = 0; i < kRingSize; ++i)
        before.append(defaults.storedObject(logRingKey(LogError, i)).toString());
    action();
    QStringList added;
    const QString separator = QStringLiteral(" message: ");
    for (int i = 0; i < kRingSize; ++i) {
        const QString entry = defaults.storedObject(logRingKey(LogError, i)).toString();
        if (entry != before.at(i))
            added.append(entry.mid(entry.indexOf(separator) + separator.size()));
    }
    return added;
}

// Restores one environment variable when it goes out of scope.
class EnvironmentGuard
{
public:
    explicit EnvironmentGuard(const char *name) : m_name(name), m_had(qEnvironmentVariableIsSet(name)), m_value(qgetenv(name)) {}
    ~EnvironmentGuard()
    {
        if (m_had)
            qputenv(m_name, m_value);
        else
            qunsetenv(m_name);
    }

private:
    const char *m_name;
    bool m_had;
    QByteArray m_value;
};

} // namespace

class DataTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();

    void stringDetectsEncoding_data();
    void stringDetectsEncoding();
    void jsonObject_data();
    void jsonObject();
    void jsonArrayAndDictionary_data();
    void jsonArrayAndDictionary();
    void hexString_data();
    void hexString();

    void formattedTime_data();
    void formattedTime();
    void dateWithString_data();
    void dateWithString();

    void threeLetterCodes_data();
    void threeLetterCodes();
    void languageTableShape();
    void languageTableMatchesIsoRegistry();
    void preferredLanguagesFromEnvironment_data();
    void preferredLanguagesFromEnvironment();

private:
    std::unique_ptr<VolumeFixture> m_volume;
};

void DataTest::initTestCase()
{
    // The log ring lives in the user defaults, which the fixture keeps apart.
    m_volume = std::make_unique<VolumeFixture>();
    QVERIFY(m_volume->isValid());
}

void DataTest::stringDetectsEncoding_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("expected");
    QTest::newRow("UTF-8") << QByteArray("caf\xc3\xa9") << QStringLiteral("café");
    QTest::newRow("UTF-8 with mark") << QByteArray("\xef\xbb\xbfhi") << QStringLiteral("hi");
    QTest::newRow("UTF-16LE with mark") << QByteArray("\xff\xfeh\0i\0", 6) << QStringLiteral("hi");
    QTest::newRow("UTF-16BE with mark") << QByteArray("\xfe\xff\0h\0i", 6) << QStringLiteral("hi");
    QTest::newRow("UTF-32LE with mark") << QByteArray("\xff\xfe\0\0h\0\0\0", 8) << QStringLiteral("h");
    QTest::newRow("UTF-16LE without mark") << QByteArray("h\0i\0\xe9\0", 6) << QStringLiteral("hié");
    QTest::newRow("UTF-16BE without mark") << QByteArray("\0h\0i", 4) << QStringLiteral("hi");
    QTest::newRow("ISO Latin 1") << QByteArray("caf\xe9") << QStringLiteral("café");
    QTest::newRow("zero bytes on both sides stay UTF-8") << QByteArray("a\0\0b", 4) << QStringView(u"a\0\0b", 4).toString();
    QTest::newRow("odd length stays UTF-8") << QByteArray("a\0b", 3) << QStringView(u"a\0b", 3).toString();
    QTest::newRow("empty") << QByteArray() << QString();
}

void DataTest::stringDetectsEncoding()
{
    QFETCH(QByteArray, data);
    QFETCH(QString, expected);
    QCOMPARE(kestrum::string(data), expected);
}

void DataTest::jsonObject_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QVariant>("expected");
    QTest::addColumn<QString>("logged");

    QTest::newRow("array") << QByteArray("[1, \"a\", null, true]")
                           << QVariant(QVariantList{1, QStringLiteral("a"), QVariant::fromValue(nullptr), true}) << QString();
    QTest::newRow("object") << QByteArray("{\"k\": {\"n\": [2.5]}}")
                            << QVariant(QVariantMap{{"k", QVariantMap{{"n", QVariantList{2.5}}}}}) << QString();
    QTest::newRow("trailing comma") << QByteArray("[1,]") << QVariant()
                                    << QStringLiteral("Error: JSON read fails! input {length = 4, bytes = 0x5b312c5d} dict (null) err ");
    QTest::newRow("empty") << QByteArray() << QVariant()
                           << QStringLiteral("Error: JSON read fails! input {length = 0, bytes = 0x} dict (null) err ");
    QTest::newRow("bare number") << QByteArray("3") << QVariant()
                                 << QStringLiteral("Error: JSON read fails! input {length = 1, bytes = 0x33} dict (null) err ");
}

void DataTest::jsonObject()
{
    QFETCH(QByteArray, data);
    QFETCH(QVariant, expected);
    QFETCH(QString, logged);

    QVariant value;
    const QStringList lines = errorsLoggedBy([&] { value = JSONObject(data); });
    QCOMPARE(value, expected);
    if (logged.isEmpty()) {
        QCOMPARE(lines, QStringList());
    } else {
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines.first().startsWith(logged), qPrintable(lines.first()));
        QVERIFY2(lines.first().size() > logged.size(), "the parser's reason follows");
    }
}

void DataTest::jsonArrayAndDictionary_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<bool>("isArray");
    QTest::addColumn<bool>("isDictionary");
    QTest::addColumn<QString>("arrayError");
    QTest::addColumn<QString>("dictionaryError");
    QTest::newRow("array") << QByteArray("[1]") << true << false << QString()
                           << QStringLiteral("Error: JSON read fails! input is class QVariantList instead of dictionary");
    QTest::newRow("empty array") << QByteArray("[]") << true << false << QString()
                                 << QStringLiteral("Error: JSON read fails! input is class QVariantList instead of dictionary");
    QTest::newRow("object") << QByteArray("{\"a\":1}") << false << true
                            << QStringLiteral("Error: JSON read fails! input is class QVariantMap instead of array") << QString();
    QTest::newRow("unreadable") << QByteArray("{") << false << false
                                << QStringLiteral("Error: JSON read fails! input is class (null) instead of array")
                                << QStringLiteral("Error: JSON read fails! input is class (null) instead of dictionary");
}

void DataTest::jsonArrayAndDictionary()
{
    QFETCH(QByteArray, data);
    QFETCH(bool, isArray);
    QFETCH(bool, isDictionary);
    QFETCH(QString, arrayError);
    QFETCH(QString, dictionaryError);
    const bool unreadable = !isArray && !isDictionary;

    std::optional<QVariantList> array;
    QStringList lines = errorsLoggedBy([&] { array = JSONArray(data); });
    QCOMPARE(array.has_value(), isArray);
    if (isArray)
        QCOMPARE(QVariant(*array), QJsonDocument::fromJson(data).toVariant());
    // An unreadable input logs the parser's line first, then the class.
    QCOMPARE(lines.size(), arrayError.isEmpty() ? 0 : unreadable ? 2 : 1);
    if (!arrayError.isEmpty())
        QVERIFY2(lines.contains(arrayError), qPrintable(lines.join('\n')));

    std::optional<QVariantMap> dictionary;
    lines = errorsLoggedBy([&] { dictionary = JSONDictionary(data); });
    QCOMPARE(dictionary.has_value(), isDictionary);
    if (isDictionary)
        QCOMPARE(dictionary->value("a"), QVariant(1));
    QCOMPARE(lines.size(), dictionaryError.isEmpty() ? 0 : unreadable ? 2 : 1);
    if (!dictionaryError.isEmpty())
        QVERIFY2(lines.contains(dictionaryError), qPrintable(lines.join('\n')));
}

void DataTest::hexString_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("expected");
    QTest::newRow("empty") << QByteArray() << QString();
    QTest::newRow("two digits each, lower case") << QByteArray("\x00\x0a\xff\x7f", 4) << QStringLiteral("000aff7f");
    QTest::newRow("text") << QByteArray("AB") << QStringLiteral("4142");
}

void DataTest::hexString()
{
    QFETCH(QByteArray, data);
    QFETCH(QString, expected);
    QCOMPARE(kestrum::hexString(data), expected);
    QVERIFY(kestrum::hexString(data).isEmpty() == data.isEmpty());
}

void DataTest::formattedTime_data()
{
    QTest::addColumn<double>("seconds");
    QTest::addColumn<QString>("expected");
    QTest::newRow("125.7 seconds") << 125.7 << QStringLiteral("2m 5s");
    QTest::newRow("59.9 seconds") << 59.9 << QStringLiteral("59s");
    QTest::newRow("zero") << 0.0 << QStringLiteral("0s");
    QTest::newRow("under a second") << 0.9 << QStringLiteral("0s");
    QTest::newRow("one minute") << 60.0 << QStringLiteral("1m 0s");
    QTest::newRow("just under two minutes") << 119.99 << QStringLiteral("1m 59s");
    QTest::newRow("an hour") << 3600.0 << QStringLiteral("60m 0s");
    QTest::newRow("negative") << -125.7 << QStringLiteral("-2m -5s");
    QTest::newRow("not a number") << std::nan("") << QStringLiteral("0s");
    QTest::newRow("infinite") << std::numeric_limits<double>::infinity() << QStringLiteral("0s");
}

void DataTest::formattedTime()
{
    QFETCH(double, seconds);
    QFETCH(QString, expected);
    QCOMPARE(formattedTimeFromTimeInterval(seconds), expected);
}

void DataTest::dateWithString_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("pattern");
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QDateTime>("expected");

    const QString en = QStringLiteral("en_US");
    auto local = [](int y, int m, int d, int h = 0, int min = 0, int s = 0) {
        return QDateTime(QDate(y, m, d), QTime(h, min, s));
    };
    QTest::newRow("build date form") << QStringLiteral("Jan 5 2024") << QStringLiteral("MMM d yyyy") << en << local(2024, 1, 5);
    QTest::newRow("full month") << QStringLiteral("January 15, 2024") << QStringLiteral("MMMM d, yyyy") << en << local(2024, 1, 15);
    QTest::newRow("French month") << QStringLiteral("5 janvier 2024") << QStringLiteral("d MMMM yyyy") << QStringLiteral("fr_FR")
                                  << local(2024, 1, 5);
    QTest::newRow("date and time") << QStringLiteral("2024-01-05 13:45:10") << QStringLiteral("yyyy-MM-dd HH:mm:ss") << en
                                   << local(2024, 1, 5, 13, 45, 10);
    QTest::newRow("weekday name") << QStringLiteral("Fri, 05 Jan 2024") << QStringLiteral("EEE, dd MMM yyyy") << en
                                  << local(2024, 1, 5);
    QTest::newRow("twelve-hour clock") << QStringLiteral("Jan 5 2024 3:04 PM") << QStringLiteral("MMM d yyyy h:mm a") << en
                                       << local(2024, 1, 5, 15, 4);
    QTest::newRow("quoted literal") << QStringLiteral("Week of 2024-02-03") << QStringLiteral("'Week of' yyyy-MM-dd") << en
                                    << local(2024, 2, 3);
    QTest::newRow("offset zone") << QStringLiteral("2024-01-05T10:00:00+0100") << QStringLiteral("yyyy-MM-dd'T'HH:mm:ssZ") << en
                                 << QDateTime(QDate(2024, 1, 5), QTime(9, 0), Qt::UTC);
    QTest::newRow("two-digit year, recent") << QStringLiteral("05/01/24") << QStringLiteral("dd/MM/yy") << en << local(2024, 1, 5);
    QTest::newRow("two-digit year, last century") << QStringLiteral("05/01/99") << QStringLiteral("dd/MM/yy") << en
                                                  << local(1999, 1, 5);
    QTest::newRow("day out of range") << QStringLiteral("Jan 32 2024") << QStringLiteral("MMM d yyyy") << en << QDateTime();
    QTest::newRow("not a date") << QStringLiteral("hello") << QStringLiteral("MMM d yyyy") << en << QDateTime();
    QTest::newRow("empty text") << QString() << QStringLiteral("yyyy") << en << QDateTime();
    QTest::newRow("field Qt cannot read") << QStringLiteral("AD 2024") << QStringLiteral("G yyyy") << en << QDateTime();
    QTest::newRow("wrong locale") << QStringLiteral("5 janvier 2024") << QStringLiteral("d MMMM yyyy") << en << QDateTime();
}

void DataTest::dateWithString()
{
    QFETCH(QString, text);
    QFETCH(QString, pattern);
    QFETCH(QString, locale);
    QFETCH(QDateTime, expected);
    const QDateTime date = kestrum::dateWithString(text, pattern, locale);
    QCOMPARE(date.isValid(), expected.isValid());
    if (expected.isValid())
        QCOMPARE(date.toUTC(), expected.toUTC());
    if (locale == QLatin1String("en_US"))
        QCOMPARE(kestrum::dateWithString(text, pattern), date);
}

void DataTest::threeLetterCodes_data()
{
    QTest::addColumn<QStringList>("preferred");
    QTest::addColumn<QStringList>("expected");
    // The twenty languages with a bibliographic and a terminology code.
    const QList<std::pair<const char *, const char *>> bibliographic{
        {"bo", "tib"}, {"cs", "cze"}, {"cy", "wel"}, {"de", "ger"}, {"el", "gre"}, {"eu", "baq"}, {"fa", "per"},
        {"fr", "fre"}, {"hy", "arm"}, {"is", "ice"}, {"ka", "geo"}, {"mk", "mac"}, {"mi", "mao"}, {"ms", "may"},
        {"my", "bur"}, {"nl", "dut"}, {"ro", "rum"}, {"sk", "slo"}, {"sq", "alb"}, {"zh", "chi"}};
    for (const auto &[two, three] : bibliographic)
        QTest::newRow(two) << QStringList{two} << QStringList{three};
    QTest::newRow("single codes") << QStringList{"en", "ja", "zu", "aa", "bh"} << QStringList{"eng", "jpn", "zul", "aar", "bih"};
    QTest::newRow("order kept") << QStringList{"fr", "en", "zh"} << QStringList{"fre", "eng", "chi"};
    QTest::newRow("region passes unchanged") << QStringList{"de-DE", "pt-BR", "zh-Hans"} << QStringList{"de-DE", "pt-BR", "zh-Hans"};
    QTest::newRow("unknown and upper case pass unchanged") << QStringList{"xx", "DE", ""} << QStringList{"xx", "DE", ""};
    QTest::newRow("terminology codes are not keys") << QStringList{"deu", "ger"} << QStringList{"deu", "ger"};
    QTest::newRow("none") << QStringList() << QStringList();
}

void DataTest::threeLetterCodes()
{
    QFETCH(QStringList, preferred);
    QFETCH(QStringList, expected);
    QCOMPARE(preferredLanguages3Letter(preferred), expected);
}

void DataTest::languageTableShape()
{
    QCOMPARE(kLanguageCodes.size(), std::size_t(204));
    QHash<QString, int> listings;
    for (const LanguageCodePair &pair : kLanguageCodes) {
        const QString two = QString::fromLatin1(pair.twoLetter);
        const QString three = QString::fromLatin1(pair.threeLetter);
        QVERIFY2(two.size() == 2 && two == two.toLower(), pair.twoLetter);
        QVERIFY2(three.size() == 3 && three == three.toLower(), pair.threeLetter);
        ++listings[two];
    }
    QCOMPARE(listings.size(), 184);
    QCOMPARE(std::count(listings.cbegin(), listings.cend(), 2), 20);
}

void DataTest::languageTableMatchesIsoRegistry()
{
    // Debian's iso-codes carries the ISO 639-2 registry: an independent
    // source for every pair of the table.
    QFile registry(QStringLiteral("/usr/share/iso-codes/json/iso_639-2.json"));
    if (!registry.open(QIODevice::ReadOnly))
        QSKIP("the iso-codes registry is not installed");
    const QJsonArray languages = QJsonDocument::fromJson(registry.readAll()).object().value("639-2").toArray();
    QSet<std::pair<QString, QString>> expected;
    QHash<QString, QString> bibliographic;
    for (const QJsonValue &entry : languages) {
        const QJsonObject language = entry.toObject();
        const QString two = language.value("alpha_2").toString();
        if (two.isEmpty())
            continue;
        expected.insert({two, language.value("alpha_3").toString()});
        const QString b = language.value("bibliographic").toString(language.value("alpha_3").toString());
        expected.insert({two, b});
        bibliographic.insert(two, b);
    }
    QSet<std::pair<QString, QString>> table;
    for (const LanguageCodePair &pair : kLanguageCodes)
        table.insert({QString::fromLatin1(pair.twoLetter), QString::fromLatin1(pair.threeLetter)});
    QCOMPARE(table.size(), 204);
    QCOMPARE(table, expected);
    for (auto it = bibliographic.cbegin(); it != bibliographic.cend(); ++it)
        QCOMPARE(threeLetterLanguageCode(it.key()), it.value());
}

void DataTest::preferredLanguagesFromEnvironment_data()
{
    QTest::addColumn<QByteArray>("language");
    QTest::addColumn<QByteArray>("lcAll");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("LANGUAGE list") << QByteArray("fr:de_DE.UTF-8:nl:C") << QByteArray("en_US.UTF-8")
                                   << QStringList{"fre", "de-DE", "dut"};
    QTest::newRow("message locale") << QByteArray() << QByteArray("pt_BR.UTF-8@latin") << QStringList{"pt-BR"};
    QTest::newRow("bare language locale") << QByteArray() << QByteArray("de") << QStringList{"ger"};
    QTest::newRow("C locale means English") << QByteArray() << QByteArray("C") << QStringList{"eng"};
}

void DataTest::preferredLanguagesFromEnvironment()
{
    QFETCH(QByteArray, language);
    QFETCH(QByteArray, lcAll);
    QFETCH(QStringList, expected);
    EnvironmentGuard keepLanguage("LANGUAGE");
    EnvironmentGuard keepAll("LC_ALL");
    if (language.isEmpty())
        qunsetenv("LANGUAGE");
    else
        qputenv("LANGUAGE", language);
    qputenv("LC_ALL", lcAll);
    QCOMPARE(preferredLanguages3Letter(), expected);
}

QTEST_GUILESS_MAIN(DataTest)
#include "tst_data.moc"
