#pragma once
// Windows-1251, the single-byte code page of the program's files, converted
// through a fixed table that reads every byte as Qt's own converter does.

#include <QByteArray>
#include <QString>

namespace bilmeko::cp1251 {

// Characters outside the code page become '?'.
QByteArray encode(const QString &text);
QString decode(const QByteArray &bytes);
QString decode(const char *bytes, qsizetype size);
// Writes the characters of size bytes to out, one a byte (a character the
// code page lacks as '?').
void decodeTo(const char *bytes, qsizetype size, QChar *out);
// Whether every character of the text exists in the code page.
bool canEncode(const QString &text);

// The first n characters of a text (a field cut to its maximum).
QString cut(const QString &text, int n);

} // namespace bilmeko::cp1251
