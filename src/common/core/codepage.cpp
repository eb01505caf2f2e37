#include "codepage.h"

#include <QStringDecoder>
#include <QStringEncoder>
#include <optional>

namespace bilmeko::cp1251 {

namespace {

constexpr const char *Name = "windows-1251";

// One converter a thread, made anew after an error: a converter's error
// flag stays set for good once raised. Made in place, never moved: the
// ICU converter keeps the address of its state.
QStringDecoder &decoder()
{
    thread_local std::optional<QStringDecoder> d;
    if (!d || d->hasError())
        d.emplace(Name, QStringConverter::Flag::Stateless);
    return *d;
}

QStringEncoder &encoder()
{
    thread_local std::optional<QStringEncoder> e;
    if (!e || e->hasError())
        e.emplace(Name, QStringConverter::Flag::Stateless);
    return *e;
}

// Each byte's character as Qt's converter gives it, taken once: a single-
// byte code page decodes byte by byte, and the table spares a converter
// call for every short text (a price list holds thousands). The 256 bytes
// go through one converter at once (opening one costs a lookup of the code
// page by name); when they do not come out as 256 characters without an
// error (never for Windows-1251), texts are left to the converter.
struct ByteTable
{
    char16_t chars[256];
    bool whole = true;
    ByteTable()
    {
        char bytes[256];
        for (int b = 0; b < 256; ++b)
            bytes[b] = static_cast<char>(b);
        QStringDecoder all(Name, QStringConverter::Flag::Stateless);
        const QString s = all.decode(QByteArrayView(bytes, 256));
        whole = s.size() == 256 && !all.hasError();
        for (int b = 0; b < 256; ++b)
            chars[b] = whole ? s.at(b).unicode() : u'?';
    }
};

const ByteTable &byteTable()
{
    static const ByteTable table;
    return table;
}

} // namespace

QByteArray encode(const QString &text)
{
    QStringEncoder &all = encoder();
    QByteArray out = all.encode(text);
    if (!all.hasError())
        return out;
    // Some character has no byte here: each such UTF-16 unit becomes '?'.
    out.clear();
    out.reserve(text.size());
    for (QChar c : text) {
        QStringEncoder &one = encoder();
        const QByteArray b = one.encode(QStringView(&c, 1));
        out.append(one.hasError() || b.size() != 1 ? QByteArray(1, '?') : b);
    }
    return out;
}

QString decode(const char *bytes, qsizetype size)
{
    const ByteTable &table = byteTable();
    if (!table.whole)
        return decoder().decode(QByteArrayView(bytes, size));
    QString out(size, Qt::Uninitialized);
    decodeTo(bytes, size, out.data());
    return out;
}

void decodeTo(const char *bytes, qsizetype size, QChar *out)
{
    const ByteTable &table = byteTable();
    for (qsizetype i = 0; i < size; ++i)
        out[i] = QChar(table.chars[static_cast<unsigned char>(bytes[i])]);
}

QString decode(const QByteArray &bytes)
{
    return decode(bytes.constData(), bytes.size());
}

bool canEncode(const QString &text)
{
    QStringEncoder &e = encoder();
    const QByteArray bytes = e(text); // the conversion runs when taken as bytes
    Q_UNUSED(bytes);
    return !e.hasError();
}

QString cut(const QString &text, int n)
{
    return text.size() <= n ? text : text.left(n);
}

} // namespace bilmeko::cp1251
