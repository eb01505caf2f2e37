#include "profiletext.h"

#include "common/core/codepage.h"

#include <QStringDecoder>
#include <algorithm>
#include <cstring>

namespace bilmeko::profile {

namespace {

bool blankByte(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

// Narrows [b, e) to its text without surrounding blanks.
void trimRange(const char *s, qsizetype &b, qsizetype &e)
{
    while (b < e && blankByte(s[b]))
        ++b;
    while (e > b && blankByte(s[e - 1]))
        --e;
}

bool blankLine(const QByteArray &bytes, const Line &l)
{
    qsizetype b = l.begin, e = l.end;
    trimRange(bytes.constData(), b, e);
    return b == e;
}

bool sameName(const QString &a, const QString &b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// Copies lines of the old text and new lines into the new text, giving a
// last line without its end a CR LF when something follows it.
class Writer
{
public:
    explicit Writer(const QByteArray &source) : m_src(source) { m_out.reserve(source.size() + 256); }

    void line(const Line &l)
    {
        separate();
        m_out.append(m_src.constData() + l.begin, l.next - l.begin);
        m_open = l.next == l.end;
    }
    void lines(const QByteArray &terminated)
    {
        if (terminated.isEmpty())
            return;
        separate();
        m_out.append(terminated);
    }
    QByteArray take() { return std::move(m_out); }

private:
    void separate()
    {
        if (m_open && !m_out.isEmpty())
            m_out.append("\r\n");
        m_open = false;
    }

    const QByteArray &m_src;
    QByteArray m_out;
    bool m_open = false;
};

QByteArray sectionHeader(const QString &section)
{
    return '[' + cp1251::encode(section) + "]\r\n";
}

} // namespace

bool isBlank(QChar c)
{
    const char16_t u = c.unicode();
    return u == ' ' || u == '\t' || u == '\r' || u == '\v' || u == '\f';
}

QString trimBlanks(const QString &text)
{
    qsizetype b = 0, e = text.size();
    while (b < e && isBlank(text[b]))
        ++b;
    while (e > b && isBlank(text[e - 1]))
        --e;
    return text.mid(b, e - b);
}

std::vector<Line> splitLines(const QByteArray &bytes)
{
    std::vector<Line> out;
    const char *s = bytes.constData();
    const qsizetype n = bytes.size();
    bool inSection = false;
    qsizetype pos = 0;
    while (pos < n) {
        Line l;
        l.begin = pos;
        const char *nl = static_cast<const char *>(memchr(s + pos, '\n', static_cast<size_t>(n - pos)));
        if (nl) {
            l.next = (nl - s) + 1;
            l.end = nl - s;
            if (l.end > l.begin && s[l.end - 1] == '\r')
                --l.end;
        } else {
            l.next = n;
            l.end = n;
        }
        qsizetype b = l.begin, e = l.end;
        trimRange(s, b, e);
        if (b < e) {
            if (s[b] == '[') {
                l.kind = LineKind::Section;
                inSection = true;
            } else if (s[b] != ';' && inSection) {
                const char *eq = static_cast<const char *>(memchr(s + b, '=', static_cast<size_t>(e - b)));
                if (eq) {
                    qsizetype kb = b, ke = eq - s;
                    trimRange(s, kb, ke);
                    if (kb < ke)
                        l.kind = LineKind::Entry;
                }
            }
        }
        out.push_back(l);
        pos = l.next;
    }
    return out;
}

namespace {

// Whether the bytes hold only well-formed UTF-8 sequences, looking no
// further than the first that is not: a file in the code page fails at its
// first Russian letter. (Passing this, the decoder still has the last word.)
bool maybeUtf8(QByteArrayView bytes)
{
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.data());
    const auto *end = p + bytes.size();
    while (p < end) {
        const unsigned char c = *p++;
        if (c < 0x80)
            continue;
        const int more = c >= 0xC2 && c <= 0xDF ? 1 : c >= 0xE0 && c <= 0xEF ? 2 : c >= 0xF0 && c <= 0xF4 ? 3 : -1;
        if (more < 0 || end - p < more)
            return false;
        for (int i = 0; i < more; ++i)
            if ((*p++ & 0xC0) != 0x80)
                return false;
    }
    return true;
}

} // namespace

CodePageBytes toCodePage(QByteArray bytes)
{
    static const QByteArray bom("\xEF\xBB\xBF");
    const bool marked = bytes.startsWith(bom);
    const bool ascii
        = std::all_of(bytes.cbegin(), bytes.cend(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (ascii || !maybeUtf8(bytes))
        return {std::move(bytes), false};
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8(QByteArrayView(bytes).sliced(marked ? bom.size() : 0));
    if (utf8.hasError())
        return {std::move(bytes), false};
    return {cp1251::encode(text), true};
}

QByteArray entryLine(const QString &key, const QString &value)
{
    return cp1251::encode(key) + '=' + cp1251::encode(value) + "\r\n";
}

ProfileText::ProfileText(QByteArray bytes) : m_bytes(std::move(bytes)), m_lines(splitLines(m_bytes))
{
}

QString ProfileText::sectionName(const Line &line) const
{
    if (line.kind != LineKind::Section)
        return {};
    const char *s = m_bytes.constData();
    qsizetype b = line.begin, e = line.end;
    trimRange(s, b, e);
    ++b; // the '['
    const char *close = static_cast<const char *>(memchr(s + b, ']', static_cast<size_t>(e - b)));
    if (close)
        e = close - s;
    trimRange(s, b, e);
    return cp1251::decode(s + b, e - b);
}

QByteArrayView ProfileText::keyBytes(const Line &line) const
{
    if (line.kind != LineKind::Entry)
        return {};
    const char *s = m_bytes.constData();
    qsizetype b = line.begin, e = line.end;
    trimRange(s, b, e);
    e = static_cast<const char *>(memchr(s + b, '=', static_cast<size_t>(e - b))) - s;
    trimRange(s, b, e);
    return QByteArrayView(s + b, e - b);
}

QByteArrayView ProfileText::valueBytes(const Line &line) const
{
    if (line.kind != LineKind::Entry)
        return {};
    const char *s = m_bytes.constData();
    qsizetype b = line.begin, e = line.end;
    trimRange(s, b, e);
    b = (static_cast<const char *>(memchr(s + b, '=', static_cast<size_t>(e - b))) - s) + 1;
    trimRange(s, b, e);
    if (e - b >= 2 && (s[b] == '"' || s[b] == '\'') && s[e - 1] == s[b]) {
        ++b;
        --e;
    }
    return QByteArrayView(s + b, e - b);
}

QString ProfileText::keyOf(const Line &line) const
{
    if (line.kind != LineKind::Entry)
        return {};
    const QByteArrayView k = keyBytes(line);
    return cp1251::decode(k.data(), k.size());
}

QString ProfileText::valueOf(const Line &line) const
{
    if (line.kind != LineKind::Entry)
        return {};
    const QByteArrayView v = valueBytes(line);
    return cp1251::decode(v.data(), v.size());
}

std::vector<ProfileText::Member> ProfileText::membership(const QString &section) const
{
    const QString wanted = trimBlanks(section);
    std::vector<Member> out(m_lines.size(), Outside);
    Member state = Outside;
    bool seen = false;
    for (size_t i = 0; i < m_lines.size(); ++i) {
        const Line &l = m_lines[i];
        if (l.kind == LineKind::Section) {
            if (sameName(sectionName(l), wanted)) {
                out[i] = seen ? InLater : FirstHeader;
                state = seen ? InLater : InFirst;
                seen = true;
            } else {
                state = Outside;
            }
            continue;
        }
        out[i] = state;
    }
    return out;
}

bool ProfileText::hasSection(const QString &section) const
{
    const std::vector<Member> m = membership(section);
    return std::find(m.begin(), m.end(), FirstHeader) != m.end();
}

QList<Entry> ProfileText::entries(const QString &section) const
{
    const std::vector<Member> m = membership(section);
    QList<Entry> out;
    for (size_t i = 0; i < m_lines.size(); ++i) {
        if ((m[i] == InFirst || m[i] == InLater) && m_lines[i].kind == LineKind::Entry)
            out.append({keyOf(m_lines[i]), valueOf(m_lines[i])});
    }
    return out;
}

QList<qsizetype> ProfileText::entryLines(const QString &section) const
{
    const std::vector<Member> m = membership(section);
    QList<qsizetype> out;
    for (size_t i = 0; i < m_lines.size(); ++i)
        if ((m[i] == InFirst || m[i] == InLater) && m_lines[i].kind == LineKind::Entry)
            out.append(static_cast<qsizetype>(i));
    return out;
}

QStringList ProfileText::keys(const QString &section) const
{
    QStringList out;
    for (const Entry &e : entries(section))
        out << e.key;
    return out;
}

QString ProfileText::value(const QString &section, const QString &key) const
{
    const QString wanted = trimBlanks(key);
    const std::vector<Member> m = membership(section);
    for (size_t i = 0; i < m_lines.size(); ++i) {
        if ((m[i] == InFirst || m[i] == InLater) && m_lines[i].kind == LineKind::Entry
            && sameName(keyOf(m_lines[i]), wanted))
            return valueOf(m_lines[i]);
    }
    return {};
}

QByteArray ProfileText::withValue(const QString &section, const QString &key, const QString &value) const
{
    const QString name = trimBlanks(key);
    const std::vector<Member> m = membership(section);
    const qsizetype none = -1;
    qsizetype replace = none, header = none, appendAfter = none;
    for (size_t i = 0; i < m_lines.size(); ++i) {
        const Line &l = m_lines[i];
        if (m[i] == FirstHeader) {
            header = appendAfter = static_cast<qsizetype>(i);
        } else if (m[i] == InFirst && !blankLine(m_bytes, l)) {
            appendAfter = static_cast<qsizetype>(i);
        }
        if (replace == none && (m[i] == InFirst || m[i] == InLater) && l.kind == LineKind::Entry
            && sameName(keyOf(l), name))
            replace = static_cast<qsizetype>(i);
    }

    const QByteArray line = entryLine(name, value);
    Writer w(m_bytes);
    for (size_t i = 0; i < m_lines.size(); ++i) {
        if (static_cast<qsizetype>(i) == replace) {
            w.lines(line);
            continue;
        }
        w.line(m_lines[i]);
        if (replace == none && static_cast<qsizetype>(i) == appendAfter)
            w.lines(line);
    }
    if (header == none)
        w.lines(sectionHeader(trimBlanks(section)) + line);
    return w.take();
}

QByteArray ProfileText::withoutSection(const QString &section) const
{
    const std::vector<Member> m = membership(section);
    Writer w(m_bytes);
    for (size_t i = 0; i < m_lines.size(); ++i)
        if (m[i] == Outside)
            w.line(m_lines[i]);
    return w.take();
}

QByteArray ProfileText::withSection(const QString &section, const QList<Entry> &entries,
                                    const QList<qsizetype> &asComments, const QByteArray &commentPrefix) const
{
    QByteArray block;
    for (const Entry &e : entries)
        block += entryLine(e.key, e.value);
    const auto commented = [&](const Line &l) {
        qsizetype b = l.begin, e = l.end;
        trimRange(m_bytes.constData(), b, e);
        return commentPrefix + m_bytes.mid(b, e - b) + "\r\n";
    };

    const std::vector<Member> m = membership(section);
    const qsizetype none = -1;
    qsizetype header = none, firstEntry = none, lastText = none;
    for (size_t i = 0; i < m_lines.size(); ++i) {
        const Line &l = m_lines[i];
        if (m[i] == FirstHeader) {
            header = lastText = static_cast<qsizetype>(i);
        } else if (m[i] == InFirst) {
            if (l.kind == LineKind::Entry && firstEntry == none)
                firstEntry = static_cast<qsizetype>(i);
            if (!blankLine(m_bytes, l))
                lastText = static_cast<qsizetype>(i);
        }
    }

    std::vector<bool> keep(m_lines.size(), false);
    for (qsizetype at : asComments)
        if (at >= 0 && at < qsizetype(m_lines.size()) && m_lines[at].kind == LineKind::Entry)
            keep[at] = true;
    // Kept lines of later sections of the same name follow the new ones.
    for (size_t i = 0; i < m_lines.size(); ++i)
        if (keep[i] && m[i] == InLater)
            block += commented(m_lines[i]);

    Writer w(m_bytes);
    if (header == none) {
        if (entries.isEmpty())
            return m_bytes;
        for (const Line &l : m_lines)
            w.line(l);
        w.lines(sectionHeader(trimBlanks(section)) + block);
        return w.take();
    }
    for (size_t i = 0; i < m_lines.size(); ++i) {
        const qsizetype at = static_cast<qsizetype>(i);
        if (m[i] == InLater)
            continue;
        if (at == firstEntry)
            w.lines(block);
        if (m[i] == InFirst && m_lines[i].kind == LineKind::Entry) {
            if (keep[i])
                w.lines(commented(m_lines[i]));
            continue;
        }
        w.line(m_lines[i]);
        if (firstEntry == none && at == lastText)
            w.lines(block);
    }
    return w.take();
}

} // namespace bilmeko::profile
