#pragma once
// The report's texts: the line of a record as the window shows it, the CSV
// row of a record, the header, the totals. The writers format into buffers
// of their own and allocate nothing per record, so a report of millions of
// records costs what its bytes cost.
//
// They take a record as RecordFields: the journal's bytes (unscrambled)
// give them without a copy, and rows that come from elsewhere (a ledger)
// fill them from a LogRecord.

#include "common/core/datetime.h"
#include "logrecord.h"

#include <QByteArray>
#include <QString>
#include <QStringView>
#include <cstdint>
#include <memory>
#include <string_view>

class QIODevice;

namespace bilmeko {

class Formats;

// One row of the report: the numbers and the four texts as Windows-1251
// bytes, the way the journal keeps them.
struct RecordFields
{
    double written = 0;
    double pricePerMin = 0;
    double startTime = 0;
    double elapsed = 0;
    double endTime = 0;
    double amount = 0;
    std::string_view clientName;
    std::string_view service;
    std::string_view note;
    std::string_view status;
    // A reversal the totals leave out (CountedStops): its status is
    // followed by UncountedMark.
    bool uncounted = false;
    Payment payment = Payment::Unknown;
    bool abonement = false; // the abonement flag of the mark byte

    // The payment column's text: the method, or "абонемент" for a session
    // drawn on one (an abonement's sale shows how it was paid).
    QStringView paymentShown() const;

    // Views into unscrambled journal bytes (a length byte above its
    // field's maximum is taken as the maximum).
    static RecordFields fromPlain(const char *plain);
};

// A LogRecord's fields with the bytes they point to: texts converted to
// Windows-1251 and cut to the journal's maxima, as a record would hold them.
class OwnedFields
{
public:
    explicit OwnedFields(const LogRecord &r);
    const RecordFields &fields() const { return m_fields; }

private:
    RecordBytes m_plain;
    RecordFields m_fields;
};

// Bytes gathered in a buffer and handed on in large pieces.
class ByteOutput
{
public:
    ByteOutput() = default;
    virtual ~ByteOutput() = default;
    ByteOutput(const ByteOutput &) = delete;
    ByteOutput &operator=(const ByteOutput &) = delete;

    void put(char c)
    {
        if (m_n == Size)
            flushBuffer();
        m_buf[m_n++] = c;
    }
    void put(std::string_view s);
    // UTF-16 text as UTF-8.
    void putUtf8(QStringView s);
    // Room for up to n (<= 256) bytes written directly; then commit().
    char *reserve(int n)
    {
        if (m_n + static_cast<size_t>(n) > Size)
            flushBuffer();
        return m_buf + m_n;
    }
    void commit(int n) { m_n += static_cast<size_t>(n); }
    // Hands on what is buffered; false once anything was refused.
    bool flush();
    bool failed() const { return m_failed; }

protected:
    // Writes all of it; false when the receiver refuses.
    virtual bool deliver(const char *data, size_t n) = 0;

private:
    static constexpr size_t Size = 64 * 1024;
    void flushBuffer();

    char m_buf[Size];
    size_t m_n = 0;
    bool m_failed = false;
};

// To a file descriptor (standard output); errorNumber() after a failure.
class FdOutput : public ByteOutput
{
public:
    explicit FdOutput(int fd) : m_fd(fd) {}
    ~FdOutput() override { flush(); }
    int errorNumber() const { return m_errno; }

protected:
    bool deliver(const char *data, size_t n) override;

private:
    int m_fd;
    int m_errno = 0;
};

// To a Qt device (a file being saved, a buffer).
class DeviceOutput : public ByteOutput
{
public:
    explicit DeviceOutput(QIODevice &device) : m_device(device) {}
    ~DeviceOutput() override { flush(); }

protected:
    bool deliver(const char *data, size_t n) override;

private:
    QIODevice &m_device;
};

// The line of a record as the window shows it (the user's date and time
// formats, money with two decimals, control characters as blanks).
class LineWriter
{
public:
    LineWriter();
    ~LineWriter();
    // The text stays valid until the next call.
    QStringView format(const RecordFields &r);
    QString line(const RecordFields &r) { return format(r).toString(); }

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

// The CSV of a report: UTF-8 with a byte-order mark, ';' between fields,
// a header row, one row per record in the report's column order, money
// with two decimals and a decimal comma, dates as dd.MM.yyyy HH:mm:ss, no
// totals row; fields holding ';', '"' or a line break quoted, '"' doubled;
// rows end in CR LF.
class CsvWriter
{
public:
    explicit CsvWriter(ByteOutput &out) : m_out(out) {}
    // The byte-order mark and the header row; `withSource` adds "Журнал".
    void header(bool withSource);
    // The same with a last column of that title ("Стойка" over the ledger).
    void header(const QString &sourceTitle);
    void row(const RecordFields &r);
    // With a last column naming where the row comes from (sourceField()).
    void row(const RecordFields &r, std::string_view sourceField);
    // A text as the last column holds it: UTF-8, quoted where it has to be.
    static QByteArray sourceField(const QString &name);

    // In the conversion table: the byte makes a field quoted.
    static constexpr std::uint32_t QuoteMark = 0x80000000u;

private:
    void fields(const RecordFields &r);
    char *text(char *p, std::string_view cp1251) const;
    char *dateTime(char *p, double v);
    static char *time(char *p, double v, bool withSign);

    ByteOutput &m_out;
    const std::uint32_t *m_utf8 = nullptr;
    qint64 m_day = INT64_MIN;
    char m_date[16] = {};
    int m_dateLength = 0;
};

// What follows the status of a reversal the totals leave out, in the
// window, the printout and the CSV.
inline constexpr char16_t UncountedMark[] = u" (не учтена)";

// "Время", three tabs, then the other ten column titles one tab apart.
QString reportHeader();
// One record as the window lists it.
QString reportLine(const LogRecord &r);
// H:M:S of a time total in days: hours without a limit, minutes and seconds
// without leading zeros, the seconds cut off; a "-" in front of a negative
// total (26:3:4, -2:30:0).
QString hmsText(long double days);
// "Итог:    Сумма: <money>", a tab, "Время: <H:M:S>".
QString totalsText(double amount, long double days);
// "Отчет о работе салона: 01.10.2026 – 31.12.2026".
QString reportTitle(DateTimeValue dateBeg, DateTimeValue dateEnd);

// The money text of the report, as Formats::money, written without any
// allocation; returns the number of characters (at most MoneyTextMax).
constexpr int MoneyTextMax = 48;
int writeMoney(double v, char16_t *out);
int writeMoney(double v, char *out);

} // namespace bilmeko
