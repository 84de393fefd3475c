#include "kestrum/Languages.h"

#include <QHash>

namespace kestrum {

// Generated from the ISO 639-2 registry: languages in order of their
// two-letter code; where the standard has a bibliographic and a terminology
// code, the bibliographic one comes first.
const std::array<LanguageCodePair, 204> kLanguageCodes = {{
    {"aa", "aar"}, {"ab", "abk"}, {"ae", "ave"}, {"af", "afr"}, {"ak", "aka"}, {"am", "amh"},
    {"an", "arg"}, {"ar", "ara"}, {"as", "asm"}, {"av", "ava"}, {"ay", "aym"}, {"az", "aze"},
    {"ba", "bak"}, {"be", "bel"}, {"bg", "bul"}, {"bh", "bih"}, {"bi", "bis"}, {"bm", "bam"},
    {"bn", "ben"}, {"bo", "tib"}, {"bo", "bod"}, {"br", "bre"}, {"bs", "bos"}, {"ca", "cat"},
    {"ce", "che"}, {"ch", "cha"}, {"co", "cos"}, {"cr", "cre"}, {"cs", "cze"}, {"cs", "ces"},
    {"cu", "chu"}, {"cv", "chv"}, {"cy", "wel"}, {"cy", "cym"}, {"da", "dan"}, {"de", "ger"},
    {"de", "deu"}, {"dv", "div"}, {"dz", "dzo"}, {"ee", "ewe"}, {"el", "gre"}, {"el", "ell"},
    {"en", "eng"}, {"eo", "epo"}, {"es", "spa"}, {"et", "est"}, {"eu", "baq"}, {"eu", "eus"},
    {"fa", "per"}, {"fa", "fas"}, {"ff", "ful"}, {"fi", "fin"}, {"fj", "fij"}, {"fo", "fao"},
    {"fr", "fre"}, {"fr", "fra"}, {"fy", "fry"}, {"ga", "gle"}, {"gd", "gla"}, {"gl", "glg"},
    {"gn", "grn"}, {"gu", "guj"}, {"gv", "glv"}, {"ha", "hau"}, {"he", "heb"}, {"hi", "hin"},
    {"ho", "hmo"}, {"hr", "hrv"}, {"ht", "hat"}, {"hu", "hun"}, {"hy", "arm"}, {"hy", "hye"},
    {"hz", "her"}, {"ia", "ina"}, {"id", "ind"}, {"ie", "ile"}, {"ig", "ibo"}, {"ii", "iii"},
    {"ik", "ipk"}, {"io", "ido"}, {"is", "ice"}, {"is", "isl"}, {"it", "ita"}, {"iu", "iku"},
    {"ja", "jpn"}, {"jv", "jav"}, {"ka", "geo"}, {"ka", "kat"}, {"kg", "kon"}, {"ki", "kik"},
    {"kj", "kua"}, {"kk", "kaz"}, {"kl", "kal"}, {"km", "khm"}, {"kn", "kan"}, {"ko", "kor"},
    {"kr", "kau"}, {"ks", "kas"}, {"ku", "kur"}, {"kv", "kom"}, {"kw", "cor"}, {"ky", "kir"},
    {"la", "lat"}, {"lb", "ltz"}, {"lg", "lug"}, {"li", "lim"}, {"ln", "lin"}, {"lo", "lao"},
    {"lt", "lit"}, {"lu", "lub"}, {"lv", "lav"}, {"mg", "mlg"}, {"mh", "mah"}, {"mi", "mao"},
    {"mi", "mri"}, {"mk", "mac"}, {"mk", "mkd"}, {"ml", "mal"}, {"mn", "mon"}, {"mr", "mar"},
    {"ms", "may"}, {"ms", "msa"}, {"mt", "mlt"}, {"my", "bur"}, {"my", "mya"}, {"na", "nau"},
    {"nb", "nob"}, {"nd", "nde"}, {"ne", "nep"}, {"ng", "ndo"}, {"nl", "dut"}, {"nl", "nld"},
    {"nn", "nno"}, {"no", "nor"}, {"nr", "nbl"}, {"nv", "nav"}, {"ny", "nya"}, {"oc", "oci"},
    {"oj", "oji"}, {"om", "orm"}, {"or", "ori"}, {"os", "oss"}, {"pa", "pan"}, {"pi", "pli"},
    {"pl", "pol"}, {"ps", "pus"}, {"pt", "por"}, {"qu", "que"}, {"rm", "roh"}, {"rn", "run"},
    {"ro", "rum"}, {"ro", "ron"}, {"ru", "rus"}, {"rw", "kin"}, {"sa", "san"}, {"sc", "srd"},
    {"sd", "snd"}, {"se", "sme"}, {"sg", "sag"}, {"si", "sin"}, {"sk", "slo"}, {"sk", "slk"},
    {"sl", "slv"}, {"sm", "smo"}, {"sn", "sna"}, {"so", "som"}, {"sq", "alb"}, {"sq", "sqi"},
    {"sr", "srp"}, {"ss", "ssw"}, {"st", "sot"}, {"su", "sun"}, {"sv", "swe"}, {"sw", "swa"},
    {"ta", "tam"}, {"te", "tel"}, {"tg", "tgk"}, {"th", "tha"}, {"ti", "tir"}, {"tk", "tuk"},
    {"tl", "tgl"}, {"tn", "tsn"}, {"to", "ton"}, {"tr", "tur"}, {"ts", "tso"}, {"tt", "tat"},
    {"tw", "twi"}, {"ty", "tah"}, {"ug", "uig"}, {"uk", "ukr"}, {"ur", "urd"}, {"uz", "uzb"},
    {"ve", "ven"}, {"vi", "vie"}, {"vo", "vol"}, {"wa", "wln"}, {"wo", "wol"}, {"xh", "xho"},
    {"yi", "yid"}, {"yo", "yor"}, {"za", "zha"}, {"zh", "chi"}, {"zh", "zho"}, {"zu", "zul"},
}};

namespace {

// The first code of each two-letter key, which is the bibliographic one.
const QHash<QString, QString> &threeLetterCodes()
{
    static const QHash<QString, QString> codes = [] {
        QHash<QString, QString> out;
        for (const LanguageCodePair &pair : kLanguageCodes) {
            const QString key = QString::fromLatin1(pair.twoLetter);
            if (!out.contains(key))
                out.insert(key, QString::fromLatin1(pair.threeLetter));
        }
        return out;
    }();
    return codes;
}

// "de_DE.UTF-8@euro" as the Mac writes a language identifier: "de-DE".
QString identifierFromLocaleName(const QString &name)
{
    QString identifier = name.section(QLatin1Char('@'), 0, 0).section(QLatin1Char('.'), 0, 0);
    return identifier.replace(QLatin1Char('_'), QLatin1Char('-'));
}

// The user's ordered language list: GNU's LANGUAGE, else the locale that
// chooses message languages. "C" and "POSIX" name no language.
QStringList userPreferredLanguages()
{
    QStringList names = qEnvironmentVariable("LANGUAGE").split(QLatin1Char(':'), Qt::SkipEmptyParts);
    if (names.isEmpty()) {
        for (const char *variable : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
            const QString value = qEnvironmentVariable(variable);
            if (!value.isEmpty()) {
                names.append(value);
                break;
            }
        }
    }
    QStringList identifiers;
    for (const QString &name : names) {
        const QString identifier = identifierFromLocaleName(name);
        if (!identifier.isEmpty() && identifier != QLatin1String("C") && identifier != QLatin1String("POSIX"))
            identifiers.append(identifier);
    }
    if (identifiers.isEmpty())
        identifiers.append(QStringLiteral("en"));
    return identifiers;
}

} // namespace

QString threeLetterLanguageCode(const QString &identifier)
{
    return threeLetterCodes().value(identifier, identifier);
}

QStringList preferredLanguages3Letter(const QStringList &preferredLanguages)
{
    QStringList codes;
    codes.reserve(preferredLanguages.size());
    for (const QString &identifier : preferredLanguages)
        codes.append(threeLetterLanguageCode(identifier));
    return codes;
}

QStringList preferredLanguages3Letter()
{
    return preferredLanguages3Letter(userPreferredLanguages());
}

} // namespace kestrum
