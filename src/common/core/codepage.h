#pragma once
// Windows-1251, the single-byte code page of the program's files. The table
// is the program's own: Qt 6.4 has no converter for it without ICU codecs.

#include <QByteArray>
#include <QString>

namespace bilmeko::cp1251 {

// Characters outside the code page become '?'.
QByteArray encode(const QString &text);
QString decode(const QByteArray &bytes);
QString decode(const char *bytes, qsizetype size);
// Whether every character of the text exists in the code page.
bool canEncode(const QString &text);

// The first n characters of a text (a field cut to its maximum).
QString cut(const QString &text, int n);

} // namespace bilmeko::cp1251
