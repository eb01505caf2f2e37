#include "reporttext.h"

#include "common/core/codepage.h"
#include "common/core/formats.h"

#include <QIODevice>

#include <array>
#include <bit>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>
#include <unistd.h>
#include <vector>

namespace bilmeko {

namespace {

const QLatin1Char Tab('\t');

inline std::string_view shortString(const char *plain, int offset, int max)
{
    const int n = std::min<int>(static_cast<unsigned char>(plain[offset]), max);
    return {plain + offset + 1, static_cast<size_t>(n)};
}

// roundToMs(|v|) without the library call: the report rounds four values
// of every line it writes. Exact: cutting off the whole part of a double
// leaves its fraction exactly.
inline qint64 absMs(double v)
{
    const double y = std::fabs(v) * static_cast<double>(MsPerDay);
    if (!(y < 9e18))
        return 0; // NaN or beyond any date: what the slow path gives too
    const auto whole = static_cast<qint64>(y);
    return whole + (y - static_cast<double>(whole) >= 0.5 ? 1 : 0);
}

// Milliseconds of the time of day of a value, as timeOf takes them.
inline int msOfDay(double v)
{
    return static_cast<int>(absMs(v) % MsPerDay);
}

// Each Windows-1251 byte as the window shows it (a control character,
// which would break the line or its columns apart, as a blank) and as
// UTF-8 for the CSV.
struct CodeTables
{
    std::array<char16_t, 256> shown{};
    // The UTF-8 bytes of each, up to three, their count in the top byte's
    // low bits, and CsvWriter::QuoteMark for those that make a field quoted.
    std::array<std::uint32_t, 256> utf8{};

    CodeTables()
    {
        for (int b = 0; b < 256; ++b) {
            const char c = static_cast<char>(b);
            const QString s = cp1251::decode(&c, 1);
            const char16_t u = s.isEmpty() ? u'?' : s.at(0).unicode();
            shown[static_cast<size_t>(b)] = u < 0x20 || u == 0x7F ? u' ' : u;
            const QByteArray bytes = s.toUtf8();
            const auto n = static_cast<std::uint32_t>(std::min<qsizetype>(bytes.size(), 3));
            std::uint32_t e = n << 24;
            if (b == ';' || b == '"' || b == '\n' || b == '\r')
                e |= CsvWriter::QuoteMark;
            for (std::uint32_t k = 0; k < n; ++k)
                e |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[k])) << (8 * k);
            utf8[static_cast<size_t>(b)] = e;
        }
    }
};

const CodeTables &codeTables()
{
    static const CodeTables t;
    return t;
}

// The payment methods' texts, made once: every line and row writes one.
const std::array<QString, PaymentCount> &paymentTexts()
{
    static const std::array<QString, PaymentCount> t = {paymentText(Payment::Unknown), paymentText(Payment::Cash),
                                                        paymentText(Payment::Card), paymentText(Payment::Transfer)};
    return t;
}

// The status of an abonement's sale, as the journal keeps it.
const QByteArray &abonementSaleStatus()
{
    static const QByteArray s = cp1251::encode(QStringLiteral("Абонемент"));
    return s;
}

const QString &drawnText()
{
    static const QString t = QStringLiteral("абонемент");
    return t;
}

// A session drawn on an abonement, not the abonement's sale.
bool drawnOnAbonement(const RecordFields &r)
{
    return r.abonement && QByteArrayView(r.status.data(), qsizetype(r.status.size())) != abonementSaleStatus();
}

// Writes the pieces of one line into a buffer; a line longer than it
// (a strange time format) goes on in a string.
class LineBuffer
{
public:
    void clear()
    {
        m_n = 0;
        m_spilled.clear();
    }
    void put(QStringView s)
    {
        const int n = static_cast<int>(s.size());
        if (m_n + n > Size)
            return spill(s);
        std::memcpy(m_buf + m_n, s.utf16(), static_cast<size_t>(n) * sizeof(char16_t));
        m_n += n;
    }
    void put(char16_t c)
    {
        if (m_n >= Size)
            return spill(QStringView(&c, 1));
        m_buf[m_n++] = c;
    }
    void putShortString(std::string_view field)
    {
        char16_t *p = reserve(static_cast<int>(field.size()));
        const auto &shown = codeTables().shown;
        for (size_t i = 0; i < field.size(); ++i)
            p[i] = shown[static_cast<unsigned char>(field[i])];
        commit(static_cast<int>(field.size()));
    }
    // Room for a piece written directly; see commit().
    char16_t *reserve(int n)
    {
        if (m_n + n > Size)
            flushTo(m_spilled);
        return m_buf + m_n;
    }
    void commit(int n) { m_n += n; }

    QStringView text()
    {
        if (m_spilled.isEmpty())
            return QStringView(m_buf, m_n);
        flushTo(m_spilled);
        return m_spilled;
    }

private:
    static constexpr int Size = 2048;
    void flushTo(QString &s)
    {
        s.append(QStringView(m_buf, m_n));
        m_n = 0;
    }
    void spill(QStringView s)
    {
        flushTo(m_spilled);
        m_spilled.append(s);
    }

    char16_t m_buf[Size];
    int m_n = 0;
    QString m_spilled;
};

// The time text of the long time format. The usual formats (H, HH, m, mm,
// s, ss and literal text) are written digit by digit, after checking that
// this gives the same text as the locale does; any other format goes
// through the locale, remembering each second's text.
class TimeWriter
{
public:
    explicit TimeWriter(const Formats &formats) : m_formats(formats)
    {
        m_fast = compile(formats.longTimeFormat());
        if (m_fast) {
            static const int samples[] = {0,         1,          999,        1000,       59'999,     3'600'000,
                                          3'661'001, 36'000'000, 43'200'000, 46'800'000, 45'296'789, 86'399'999};
            char16_t buf[256];
            for (int ms : samples) {
                const int n = writeFast(ms, buf);
                if (n < 0 || QStringView(buf, n) != m_formats.timeText(QTime::fromMSecsSinceStartOfDay(ms))) {
                    m_fast = false;
                    break;
                }
            }
        }
        if (!m_fast) {
            m_perSecond = !formats.longTimeFormat().contains(QLatin1Char('z'), Qt::CaseInsensitive);
            if (m_perSecond)
                m_seconds.resize(86'400);
        }
    }

    void put(LineBuffer &line, int ms)
    {
        if (m_fast) {
            char16_t *p = line.reserve(m_maxLength);
            line.commit(writeFast(ms, p));
            return;
        }
        line.put(slow(ms));
    }

private:
    enum Kind { Literal, Hour, Hour2, Minute, Minute2, Second, Second2 };
    struct Token
    {
        Kind kind;
        QString text;
    };

    bool compile(const QString &fmt)
    {
        m_maxLength = 0;
        for (qsizetype i = 0; i < fmt.size();) {
            const QChar c = fmt[i];
            if (c == QLatin1Char('\'')) {
                // Quoted text; '' is a quote.
                QString lit;
                qsizetype j = i + 1;
                if (j < fmt.size() && fmt[j] == QLatin1Char('\'')) {
                    lit = QStringLiteral("'");
                    i = j + 1;
                } else {
                    while (j < fmt.size()) {
                        if (fmt[j] == QLatin1Char('\'')) {
                            if (j + 1 < fmt.size() && fmt[j + 1] == QLatin1Char('\'')) {
                                lit += QLatin1Char('\'');
                                j += 2;
                                continue;
                            }
                            break;
                        }
                        lit += fmt[j++];
                    }
                    i = j + 1;
                }
                addLiteral(lit);
                continue;
            }
            if (!c.isLetter()) {
                addLiteral(QString(c));
                ++i;
                continue;
            }
            qsizetype n = 1;
            while (i + n < fmt.size() && fmt[i + n] == c)
                ++n;
            if (n > 2)
                return false;
            const char16_t u = c.unicode();
            Kind k;
            if (u == u'H' || u == u'h')
                k = n == 1 ? Hour : Hour2;
            else if (u == u'm')
                k = n == 1 ? Minute : Minute2;
            else if (u == u's')
                k = n == 1 ? Second : Second2;
            else
                return false; // AM/PM, milliseconds, zones: left to the locale
            m_tokens.push_back({k, {}});
            m_maxLength += 2;
            i += n;
        }
        return m_maxLength <= 1024;
    }

    void addLiteral(const QString &lit)
    {
        if (!m_tokens.empty() && m_tokens.back().kind == Literal)
            m_tokens.back().text += lit;
        else
            m_tokens.push_back({Literal, lit});
        m_maxLength += static_cast<int>(lit.size());
    }

    int writeFast(int ms, char16_t *out) const
    {
        const int secs = ms / 1000;
        const int h = secs / 3600;
        const int m = secs / 60 % 60;
        const int s = secs % 60;
        int n = 0;
        auto num = [&](int v, bool two) {
            if (two || v >= 10)
                out[n++] = static_cast<char16_t>(u'0' + v / 10);
            out[n++] = static_cast<char16_t>(u'0' + v % 10);
        };
        for (const Token &t : m_tokens) {
            switch (t.kind) {
            case Literal:
                std::memcpy(out + n, t.text.utf16(), static_cast<size_t>(t.text.size()) * sizeof(char16_t));
                n += static_cast<int>(t.text.size());
                break;
            case Hour: num(h, false); break;
            case Hour2: num(h, true); break;
            case Minute: num(m, false); break;
            case Minute2: num(m, true); break;
            case Second: num(s, false); break;
            case Second2: num(s, true); break;
            }
        }
        return n;
    }

    QString slow(int ms)
    {
        const QTime t = QTime::fromMSecsSinceStartOfDay(ms);
        if (!m_perSecond)
            return m_formats.timeText(t);
        QString &slot = m_seconds[static_cast<size_t>(ms / 1000)];
        if (slot.isNull())
            slot = m_formats.timeText(t);
        return slot;
    }

    const Formats &m_formats;
    bool m_fast = false;
    std::vector<Token> m_tokens;
    int m_maxLength = 0;
    bool m_perSecond = false;
    std::vector<QString> m_seconds;
};

// The digits of Formats::money: the number's 15 significant digits,
// rounded half up at the second decimal.
template <typename Ch> int writeMoneyDigits(double v, Ch *out)
{
    char buf[40];
    const auto res = std::to_chars(buf, buf + sizeof buf, std::fabs(v), std::chars_format::scientific, 14);
    // d.dddddddddddddde±XX
    char mant[15];
    mant[0] = buf[0];
    std::memcpy(mant + 1, buf + 2, 14);
    int exp = 0;
    std::from_chars(buf + 17 + (buf[17] == '+' ? 1 : 0), res.ptr, exp);

    // The digits of weights max(exp, 0) down to -2.
    int digits[24];
    int count = 0;
    for (int w = std::max(exp, 0); w >= -2; --w) {
        const int i = exp - w;
        digits[count++] = i >= 0 && i < 15 ? mant[i] - '0' : 0;
    }
    bool carried = false; // rounding 99,995 up gives a new leading 1
    const int next = exp + 3;
    if (next >= 0 && next < 15 && mant[next] >= '5') {
        int k = count - 1;
        while (k >= 0 && ++digits[k] == 10)
            digits[k--] = 0;
        carried = k < 0;
    }
    bool allZero = !carried;
    for (int i = 0; i < count && allZero; ++i)
        allZero = digits[i] == 0;

    int n = 0;
    if (v < 0 && !allZero)
        out[n++] = '-';
    const int intCount = count - 2;
    int i = 0;
    if (carried)
        out[n++] = '1';
    else
        while (i < intCount - 1 && digits[i] == 0)
            ++i;
    for (; i < intCount; ++i)
        out[n++] = static_cast<Ch>('0' + digits[i]);
    out[n++] = ',';
    out[n++] = static_cast<Ch>('0' + digits[count - 2]);
    out[n++] = static_cast<Ch>('0' + digits[count - 1]);
    return n;
}

// Kopecks of |v| when they follow from the number without its decimal
// digits: below 1e12 the fifteen significant digits that the text rounds
// from lie within 0.05 kopeck of |v|, so away from a half kopeck the
// rounding of |v| itself gives the same kopecks. -1 near a half kopeck.
inline std::int64_t plainKopecks(double v)
{
    const double x = std::fabs(v) * 100.0;
    if (!(x < 1e14))
        return -1;
    const auto whole = static_cast<std::int64_t>(x); // x >= 0: cut is floor
    const double frac = x - static_cast<double>(whole);
    if (frac > 0.44 && frac < 0.56)
        return -1;
    return whole + (frac >= 0.56 ? 1 : 0);
}

template <typename Ch> int writeKopecks(bool negative, std::int64_t c, Ch *out)
{
    int n = 0;
    if (negative && c != 0)
        out[n++] = '-';
    char digits[24];
    int k = 0;
    std::int64_t whole = c / 100;
    do
        digits[k++] = static_cast<char>('0' + whole % 10);
    while ((whole /= 10) > 0);
    while (k > 0)
        out[n++] = static_cast<Ch>(digits[--k]);
    out[n++] = ',';
    out[n++] = static_cast<Ch>('0' + c % 100 / 10);
    out[n++] = static_cast<Ch>('0' + c % 10);
    return n;
}

template <typename Ch> int writeMoneyText(double v, Ch *out)
{
    const std::int64_t kopecks = plainKopecks(v);
    if (kopecks >= 0)
        return writeKopecks(v < 0, kopecks, out);
    if (std::isfinite(v) && std::fabs(v) < 1e20)
        return writeMoneyDigits(v, out);
    const QString s = Formats::money(v);
    const int n = static_cast<int>(std::min<qsizetype>(s.size(), MoneyTextMax));
    for (int i = 0; i < n; ++i)
        out[i] = static_cast<Ch>(s.at(i).unicode()); // digits, ',' and '-' only
    return n;
}

} // namespace

// --- Fields ---------------------------------------------------------------

RecordFields RecordFields::fromPlain(const char *plain)
{
    RecordFields f;
    f.written = numberAt(plain, record::Written);
    f.pricePerMin = numberAt(plain, record::PricePerMin);
    f.startTime = numberAt(plain, record::StartTime);
    f.elapsed = numberAt(plain, record::Elapsed);
    f.endTime = numberAt(plain, record::EndTime);
    f.amount = numberAt(plain, record::Amount);
    f.clientName = shortString(plain, record::ClientName, record::ClientNameMax);
    f.service = shortString(plain, record::Service, record::ShortMax);
    f.note = shortString(plain, record::Note, record::ShortMax);
    f.status = shortString(plain, record::Status, record::ShortMax);
    f.payment = storedPayment(plain);
    f.abonement = isAbonementRecord(plain);
    return f;
}

QStringView RecordFields::paymentShown() const
{
    if (abonement && drawnOnAbonement(*this))
        return drawnText();
    return paymentTexts()[static_cast<size_t>(payment) & 3];
}

OwnedFields::OwnedFields(const LogRecord &r)
    : m_plain(serializeRecord(r)), m_fields(RecordFields::fromPlain(m_plain.data()))
{
}

// --- Output ---------------------------------------------------------------

void ByteOutput::put(std::string_view s)
{
    while (!s.empty()) {
        if (m_n == Size)
            flushBuffer();
        const size_t k = std::min(s.size(), Size - m_n);
        std::memcpy(m_buf + m_n, s.data(), k);
        m_n += k;
        s.remove_prefix(k);
    }
}

void ByteOutput::putUtf8(QStringView s)
{
    const char16_t *u = s.utf16();
    const qsizetype n = s.size();
    for (qsizetype i = 0; i < n; ++i) {
        char *p = reserve(4);
        char32_t c = u[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < n && u[i + 1] >= 0xDC00 && u[i + 1] < 0xE000)
            c = 0x10000 + ((c - 0xD800) << 10) + (u[++i] - 0xDC00);
        else if (c >= 0xD800 && c < 0xE000)
            c = 0xFFFD; // a lone half of a pair
        int k = 0;
        if (c < 0x80) {
            p[k++] = static_cast<char>(c);
        } else if (c < 0x800) {
            p[k++] = static_cast<char>(0xC0 | (c >> 6));
            p[k++] = static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            p[k++] = static_cast<char>(0xE0 | (c >> 12));
            p[k++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            p[k++] = static_cast<char>(0x80 | (c & 0x3F));
        } else {
            p[k++] = static_cast<char>(0xF0 | (c >> 18));
            p[k++] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            p[k++] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            p[k++] = static_cast<char>(0x80 | (c & 0x3F));
        }
        commit(k);
    }
}

void ByteOutput::flushBuffer()
{
    if (m_n > 0 && !m_failed && !deliver(m_buf, m_n))
        m_failed = true;
    m_n = 0;
}

bool ByteOutput::flush()
{
    flushBuffer();
    return !m_failed;
}

bool FdOutput::deliver(const char *data, size_t n)
{
    while (n > 0) {
        const ssize_t k = ::write(m_fd, data, n);
        if (k < 0 && errno == EINTR)
            continue;
        if (k <= 0) {
            m_errno = k < 0 ? errno : EIO;
            return false;
        }
        data += k;
        n -= static_cast<size_t>(k);
    }
    return true;
}

bool DeviceOutput::deliver(const char *data, size_t n)
{
    return m_device.write(data, static_cast<qint64>(n)) == static_cast<qint64>(n);
}

// --- The window's line ----------------------------------------------------

struct LineWriter::Impl
{
    Impl() : formats(Formats::current()), times(formats) {}

    void putDateTime(double v)
    {
        const qint64 ms = absMs(v);
        // The whole days as dateOf counts them.
        const qint64 day = v < 0 ? -(ms / MsPerDay) : ms / MsPerDay;
        if (day != lastDay || dateText.isNull()) {
            lastDay = day;
            dateText = formats.dateText(dateOf(v));
        }
        line.put(dateText);
        if (ms % MsPerDay != 0) {
            line.put(u' ');
            times.put(line, static_cast<int>(ms % MsPerDay));
        }
    }

    // A negative time (a reversed session) shows its sign.
    void putSign(double v)
    {
        if (v < 0 && msOfDay(v) / 1000 != 0)
            line.put(u'-');
    }

    void putMoney(double v)
    {
        char16_t *p = line.reserve(MoneyTextMax);
        line.commit(writeMoney(v, p));
    }

    const Formats &formats;
    TimeWriter times;
    LineBuffer line;
    qint64 lastDay = 0;
    QString dateText;
};

LineWriter::LineWriter() : d(std::make_unique<Impl>())
{
}

LineWriter::~LineWriter() = default;

QStringView LineWriter::format(const RecordFields &r)
{
    LineBuffer &line = d->line;
    line.clear();
    d->putDateTime(r.written);
    line.put(u'\t');
    line.putShortString(r.clientName);
    line.put(u'\t');
    line.putShortString(r.service);
    line.put(u'\t');
    d->putMoney(r.pricePerMin);
    line.put(u'\t');
    d->times.put(line, msOfDay(r.startTime));
    line.put(u'\t');
    d->putSign(r.elapsed);
    d->times.put(line, msOfDay(r.elapsed));
    line.put(u'\t');
    d->times.put(line, msOfDay(r.endTime));
    line.put(u'\t');
    d->putMoney(r.amount);
    line.put(u'\t');
    line.putShortString(r.note);
    line.put(u'\t');
    line.putShortString(r.status);
    if (r.uncounted)
        line.put(QStringView(UncountedMark));
    line.put(u'\t');
    line.put(r.paymentShown());
    return line.text();
}

// --- CSV ------------------------------------------------------------------

void CsvWriter::header(bool withSource)
{
    header(withSource ? QStringLiteral("Журнал") : QString());
}

void CsvWriter::header(const QString &sourceTitle)
{
    m_out.put("\xEF\xBB\xBF");
    QString h = reportHeader();
    h.replace(QLatin1String("\t\t\t"), QLatin1String("\t"));
    h.replace(QLatin1Char('\t'), QLatin1Char(';'));
    if (!sourceTitle.isEmpty())
        h += QLatin1Char(';') + sourceTitle;
    m_out.putUtf8(h);
    m_out.put("\r\n");
}

void CsvWriter::row(const RecordFields &r)
{
    fields(r);
    m_out.put("\r\n");
}

void CsvWriter::row(const RecordFields &r, std::string_view sourceField)
{
    fields(r);
    m_out.put(';');
    m_out.put(sourceField);
    m_out.put("\r\n");
}

QByteArray CsvWriter::sourceField(const QString &name)
{
    QByteArray b = name.toUtf8();
    if (b.contains(';') || b.contains('"') || b.contains('\n') || b.contains('\r')) {
        b.replace("\"", "\"\"");
        b = '"' + b + '"';
    }
    return b;
}

namespace {

// "00" to "99".
struct TwoDigits
{
    char pairs[200];
    constexpr TwoDigits() : pairs()
    {
        for (int i = 0; i < 100; ++i) {
            pairs[2 * i] = static_cast<char>('0' + i / 10);
            pairs[2 * i + 1] = static_cast<char>('0' + i % 10);
        }
    }
};
constexpr TwoDigits Digits;

inline char *pair(char *p, int v)
{
    std::memcpy(p, Digits.pairs + 2 * v, 2);
    return p + 2;
}

inline char *csvHms(char *p, int secs)
{
    const int h = secs / 3600;
    const int rest = secs - h * 3600;
    const int m = rest / 60;
    p = pair(p, h);
    *p++ = ':';
    p = pair(p, m);
    *p++ = ':';
    return pair(p, rest - m * 60);
}

// The longest row without a source column: 40 + 3 * 20 characters of at
// most three bytes, quoted, two amounts, three times, a date, the mark of
// an uncounted reversal, the payment.
constexpr int CsvRowMax = 3 * 100 + 2 * 4 + 2 * MoneyTextMax + 3 * 9 + 24 + 16 + 32 + 24;

} // namespace

void CsvWriter::fields(const RecordFields &r)
{
    if (!m_utf8)
        m_utf8 = codeTables().utf8.data();
    char *const start = m_out.reserve(CsvRowMax);
    char *p = dateTime(start, r.written);
    *p++ = ';';
    p = text(p, r.clientName);
    *p++ = ';';
    p = text(p, r.service);
    *p++ = ';';
    p += writeMoney(r.pricePerMin, p);
    *p++ = ';';
    p = time(p, r.startTime, false);
    *p++ = ';';
    p = time(p, r.elapsed, true);
    *p++ = ';';
    p = time(p, r.endTime, false);
    *p++ = ';';
    p += writeMoney(r.amount, p);
    *p++ = ';';
    p = text(p, r.note);
    *p++ = ';';
    char *const status = p;
    p = text(p, r.status);
    if (r.uncounted) {
        // Inside the field's quotes, when it has them.
        const bool quoted = p > status && p[-1] == '"' && *status == '"';
        if (quoted)
            --p;
        static const QByteArray mark = QString::fromUtf16(UncountedMark).toUtf8();
        std::memcpy(p, mark.constData(), static_cast<size_t>(mark.size()));
        p += mark.size();
        if (quoted)
            *p++ = '"';
    }
    *p++ = ';';
    for (const QChar c : r.paymentShown()) {
        // Cyrillic and ASCII letters, a blank and a dot: two bytes or one.
        if (c.unicode() < 0x80) {
            *p++ = static_cast<char>(c.unicode());
        } else {
            *p++ = static_cast<char>(0xC0 | (c.unicode() >> 6));
            *p++ = static_cast<char>(0x80 | (c.unicode() & 0x3F));
        }
    }
    m_out.commit(static_cast<int>(p - start));
}

char *CsvWriter::text(char *p, std::string_view s) const
{
    // Each byte is at most three, a doubled quote two; four are written.
    char *const start = p;
    std::uint32_t seen = 0;
    for (char c : s) {
        const std::uint32_t e = m_utf8[static_cast<unsigned char>(c)];
        seen |= e;
        std::memcpy(p, &e, 4); // little-endian: the bytes come first
        p += (e >> 24) & 3;
    }
    if (!(seen & QuoteMark))
        return p;
    // Rare: written again, quoted, the quotes inside doubled.
    p = start;
    *p++ = '"';
    for (char c : s) {
        if (c == '"')
            *p++ = '"';
        const std::uint32_t e = m_utf8[static_cast<unsigned char>(c)];
        std::memcpy(p, &e, 4);
        p += (e >> 24) & 3;
    }
    *p++ = '"';
    return p;
}

char *CsvWriter::dateTime(char *p, double v)
{
    // The date and time of day as the report's first column takes them;
    // roundToMs without the library call (half away from zero).
    qint64 ms = 0;
    if (std::fabs(v) < 1e8) {
        const double scaled = v * static_cast<double>(MsPerDay);
        ms = static_cast<qint64>(scaled); // toward zero; the rest is exact
        const double rest = scaled - static_cast<double>(ms);
        ms += rest >= 0.5 ? 1 : rest <= -0.5 ? -1 : 0;
    }
    qint64 day = ms / MsPerDay;
    qint64 inDay = ms % MsPerDay;
    if (inDay < 0) {
        inDay += MsPerDay;
        --day;
    }
    if (day != m_day) {
        m_day = day;
        const QDate date = epochDate().addDays(day);
        const QByteArray text = QStringLiteral("%1.%2.%3 ")
                                    .arg(date.day(), 2, 10, QLatin1Char('0'))
                                    .arg(date.month(), 2, 10, QLatin1Char('0'))
                                    .arg(date.year(), 4, 10, QLatin1Char('0'))
                                    .toUtf8();
        m_dateLength = static_cast<int>(std::min<qsizetype>(text.size(), sizeof m_date));
        std::memcpy(m_date, text.constData(), static_cast<size_t>(m_dateLength));
    }
    std::memcpy(p, m_date, static_cast<size_t>(m_dateLength));
    return csvHms(p + m_dateLength, static_cast<int>(inDay / 1000));
}

char *CsvWriter::time(char *p, double v, bool withSign)
{
    const int secs = msOfDay(v) / 1000;
    if (withSign && v < 0 && secs != 0)
        *p++ = '-';
    return csvHms(p, secs);
}

// --- Whole texts ----------------------------------------------------------

int writeMoney(double v, char16_t *out)
{
    return writeMoneyText(v, out);
}

int writeMoney(double v, char *out)
{
    return writeMoneyText(v, out);
}

QString reportHeader()
{
    return QStringLiteral("Время\t\t\tКлиент\tУслуга\tЦена\tНачало\tВремя\tКонец\tСумма\tКомент.\tСтатус\tОплата");
}

QString reportLine(const LogRecord &r)
{
    LineWriter w;
    return w.line(OwnedFields(r).fields());
}

QString hmsText(long double days)
{
    if (!std::isfinite(days))
        return QStringLiteral("0:0:0");
    const bool negative = days < 0;
    // Whole milliseconds first: a sum of day fractions lands a hair below a
    // whole second (one hour is 0.041666...64 days), which cutting the
    // seconds off would turn into 0:59:59. Milliseconds are what the clock
    // gives, so nothing real is lost.
    const long double ms = std::round(std::fabs(days) * 86'400'000.0L);
    if (ms >= static_cast<long double>(LLONG_MAX))
        return QStringLiteral("0:0:0");
    const long long secs = static_cast<long long>(ms) / 1000;
    const long long s = secs % 60;
    const long long m = (secs / 60) % 60;
    const long long h = secs / 3600;
    QString out;
    if (negative && secs > 0)
        out += QLatin1Char('-');
    out += QString::number(h) + QLatin1Char(':') + QString::number(m) + QLatin1Char(':') + QString::number(s);
    return out;
}

QString totalsText(double amount, long double days)
{
    return QStringLiteral("Итог:    Сумма: ") + Formats::money(amount) + Tab + QStringLiteral("Время: ")
        + hmsText(days);
}

QString reportTitle(DateTimeValue dateBeg, DateTimeValue dateEnd)
{
    const Formats &f = Formats::current();
    const QString from = f.dateText(dateBeg);
    const QString to = f.dateText(dateEnd);
    return QStringLiteral("Отчет о работе салона: ") + (from == to ? from : from + QStringLiteral(" – ") + to);
}

} // namespace bilmeko
