#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

namespace platform {

// How a Mac volume tells names apart. APFS and HFS+ in their default form
// take "Foo.framework" and "foo.FRAMEWORK", and "Café" composed or
// decomposed, for one name; so does an HFS+ disk mounted on Linux. Two
// spellings are one name when their folded forms are equal: canonical
// decomposition (NFD) and full Unicode case folding. The Mac folds a little
// less ("ß" stays apart from "ss" there); folding more only makes the
// program keep more, which is the safe direction.
//
// Folding keeps every "/" and "." where it was, so a folded path has the
// same components as its spelling, each folded on its own.
//
// A name that is not valid Unicode (a lone surrogate; in UTF-8, any invalid
// byte) is its own folded form: it is compared byte for byte, while the
// other names of the same path are folded.

// The folded form. Returns `text` itself, sharing its data, when it is
// already folded (a lower-case ASCII path).
QString foldedName(const QString &text);
QString foldedName(QStringView text);

// The same, appended to `out`.
void appendFoldedName(QStringView text, QString &out);

// The same on UTF-8 bytes.
QByteArray foldedNameUtf8(QByteArrayView utf8);
// The same, appended to `out`: an ASCII path, the common case, is folded
// with no copy of its own.
void appendFoldedNameUtf8(QByteArrayView utf8, QByteArray &out);

// Whether the two spellings are one name.
bool isSameName(QStringView a, QStringView b);

} // namespace platform
