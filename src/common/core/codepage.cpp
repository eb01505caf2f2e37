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
    return decoder().decode(QByteArrayView(bytes, size));
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
