#pragma once

#include <QStringList>

#include <array>

// ISO 639 language codes for the user's preferred languages.
namespace kestrum {

// One two-letter ISO 639-1 code with a three-letter ISO 639-2 code.
struct LanguageCodePair
{
    const char *twoLetter;
    const char *threeLetter;
};

// Every ISO 639-1 code with its ISO 639-2 code; the twenty languages with two ISO 639-2 codes are listed twice, bibliographic first.
extern const std::array<LanguageCodePair, 204> kLanguageCodes;

// The ISO 639-2 code (bibliographic where there are two) of a two-letter code, or the identifier unchanged.
QString threeLetterLanguageCode(const QString &identifier);
// Each identifier in order, mapped by threeLetterLanguageCode ("de" to "ger"; "de-DE" passes unchanged).
QStringList preferredLanguages3Letter(const QStringList &preferredLanguages);
// The user's preferred languages (LANGUAGE, else LC_ALL/LC_MESSAGES/LANG, as "de-DE"; "en" when none names one), mapped the same way.
QStringList preferredLanguages3Letter();

} // namespace kestrum
