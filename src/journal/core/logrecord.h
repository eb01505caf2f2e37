#pragma once
// The journal record: 168 bytes, little-endian doubles and short strings at
// fixed offsets. Offsets 57..157 (the client name, service, note and most of
// the status) are scrambled with a one-byte XOR.

#include "common/core/datetime.h"

#include <QByteArray>
#include <QString>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <vector>

namespace bilmeko {

constexpr int RecordSize = 168;
// The key every journal is scrambled with; journals are readable only with it.
constexpr std::uint8_t ScrambleKey = 0xA7;

namespace record {
constexpr int Written = 0;
constexpr int PricePerMin = 8;
constexpr int StartTime = 16;
constexpr int Elapsed = 24;
constexpr int EndTime = 32;
constexpr int Amount = 40;
constexpr int Reserved = 48; // 9 bytes: the session's identifier and a mark
constexpr int SessionId = 48; // 8 bytes, little-endian; 0 in old records
constexpr int SealMark = 56; // the mark byte: seal mark, payment method, abonement flag (below)
constexpr int ClientName = 57; // 1 + 40
constexpr int Service = 98; // 1 + 20
constexpr int Note = 119; // 1 + 20
constexpr int Status = 140; // 1 + 20
constexpr int Alignment = 161; // 7 bytes: the checksum, then zeros
constexpr int Checksum = 161; // CRC-32 of the stored bytes 0..160, little-endian
constexpr std::uint8_t SealMarkValue = 1;
// The mark of a record that takes back an earlier record of the same
// session (an undone Stop): its amount and time carry the opposite sign.
constexpr std::uint8_t ReversalMarkValue = 2;
// The mark byte: its low four bits are the seal mark (1 sealed, 2 a
// reversal), bits 4..5 the payment method, bit 6 the abonement flag, bit 7
// is 0. The checksum covers it; old records have only the seal mark there.
constexpr std::uint8_t SealMarkMask = 0x0F;
constexpr int PaymentShift = 4;
constexpr std::uint8_t PaymentMask = 0x30;
constexpr std::uint8_t AbonementFlag = 0x40;
constexpr int ClientNameMax = 40;
constexpr int ShortMax = 20;
constexpr int ScrambleFirst = 57;
constexpr int ScrambleLast = 157;
} // namespace record

// How a session was paid, as the record's mark byte keeps it. Unknown is
// every record written before the method was kept.
enum class Payment : std::uint8_t { Unknown = 0, Cash = 1, Card = 2, Transfer = 3 };
constexpr int PaymentCount = 4;

// "не указано", "наличные", "карта", "перевод".
QString paymentText(Payment p);
// The short form the status bar uses: "нал.", "карта", "перевод".
QString paymentShortText(Payment p);
// The methods an operator chooses from, in the order the dialogs list them.
constexpr Payment ChosenPayments[] = {Payment::Cash, Payment::Card, Payment::Transfer};

struct LogRecord
{
    DateTimeValue written = 0;
    double pricePerMin = 0;
    DateTimeValue startTime = 0;
    double elapsed = 0;
    DateTimeValue endTime = 0;
    double amount = 0;
    QString clientName;
    QString service;
    QString note;
    QString status;
    // Identifies the session the record ends; 0: none (records of old
    // journals). Written with a checksum so a reader can tell a damaged one.
    std::uint64_t sessionId = 0;
    // Takes back the session's earlier record (sealed with ReversalMarkValue).
    bool reversal = false;
    // Kept only in a sealed record (one with an identifier).
    Payment payment = Payment::Unknown;
    // An abonement's sale (status "Абонемент"), or a session drawn on one.
    bool abonement = false;
};

using RecordBytes = std::array<char, RecordSize>;

// The record's bytes, not scrambled. Bytes without a meaning are zeros;
// texts are converted to Windows-1251 and cut to their field's maximum.
RecordBytes serializeRecord(const LogRecord &r);
// Reads plain (unscrambled) bytes. A length byte above its field's maximum
// is taken as the maximum: nothing is read from beyond a field.
LogRecord deserializeRecord(const char *bytes);

// The session identifier and the checksum, in the bytes readers of the
// format ignore (Reserved and the alignment). Applied to the stored
// (scrambled) bytes, last, by the writer; does nothing when the record has
// no identifier.
void sealRecord(char *stored);
inline void sealRecord(RecordBytes &stored)
{
    sealRecord(stored.data());
}

enum class RecordSeal {
    Absent, // an old record, or one written without an identifier
    Good,
    Bad, // marked as sealed, but the checksum does not match: damaged
};
// Checks the stored (scrambled) bytes of a record.
RecordSeal recordSeal(const char *stored);
// The identifier of a stored record; 0 when it has none.
std::uint64_t storedSessionId(const char *stored);
// Whether a stored record is a reversal of an earlier one.
bool isReversalRecord(const char *stored);
// The payment method of a stored (or plain: the byte is not scrambled)
// record; Unknown for an old one.
Payment storedPayment(const char *stored);
// Whether the abonement flag is set in a sealed record.
bool isAbonementRecord(const char *stored);

// Beyond these a number is not a value the program wrote but noise. Money
// of 1e13 and more has no exact cents in a double any more.
constexpr double MaxRecordDays = 1e6;
constexpr double MaxRecordMoney = 1e13;
// The written dates a record can hold: 1 January of the year 1 up to the
// end of 9999 (dateValue of those days; checked by the tests).
constexpr double FirstWrittenValue = -693593.0;
constexpr double AfterLastWrittenValue = 2958466.0;

// False for infinities and NaN too.
inline bool saneTime(double v)
{
    return v < MaxRecordDays && v > -MaxRecordDays;
}
inline bool saneMoney(double v)
{
    return v < MaxRecordMoney && v > -MaxRecordMoney;
}
inline bool saneWritten(double v)
{
    return v >= FirstWrittenValue && v < AfterLastWrittenValue;
}
// The numbers after `Written` of a stored record (none of them scrambled).
inline bool saneNumbers(const char *stored);

// The one rule for which records of a journal a reader may take: its date
// and numbers can be shown and a checksum, where there is one, matches.
// Takes the stored bytes. Which of the trusted records the sums count is
// CountedStops' (countedstops.h).
inline bool trustedRecord(const char *stored);

// CRC-32 (the polynomial of zlib and Ethernet).
std::uint32_t crc32(const char *data, std::size_t size);
// The same a byte at a time, without the processor's help: what crc32 must
// always agree with.
std::uint32_t crc32Bytewise(const char *data, std::size_t size);

// Every way this processor has to compute the checksum of a record's
// stored bytes (the CRC-32 of those before record::Checksum), the one the
// program uses last. All must agree.
using RecordChecksumFn = std::uint32_t (*)(const char *stored);
std::vector<RecordChecksumFn> recordChecksumWays();

// XORs bytes 57..157 with the key; applying it twice restores the record.
void ScrambleRecord(char *record);
inline void ScrambleRecord(RecordBytes &record)
{
    ScrambleRecord(record.data());
}

// Little-endian double at an offset of a record.
double readDouble(const char *bytes, int offset);
// The same, inlined: the report reads several for every record of the journal.
inline double numberAt(const char *bytes, int offset)
{
    if constexpr (std::endian::native == std::endian::little) {
        double v;
        std::memcpy(&v, bytes + offset, sizeof v);
        return v;
    } else {
        return readDouble(bytes, offset);
    }
}

inline bool saneNumbers(const char *stored)
{
    return saneMoney(numberAt(stored, record::PricePerMin)) && saneTime(numberAt(stored, record::StartTime))
        && saneTime(numberAt(stored, record::Elapsed)) && saneTime(numberAt(stored, record::EndTime))
        && saneMoney(numberAt(stored, record::Amount));
}

inline bool trustedRecord(const char *stored)
{
    return saneWritten(numberAt(stored, record::Written)) && saneNumbers(stored)
        && recordSeal(stored) != RecordSeal::Bad;
}

} // namespace bilmeko
