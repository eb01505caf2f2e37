#pragma once
// The journal record: 168 bytes, little-endian doubles and short strings at
// fixed offsets. Offsets 57..157 (the client name, service, note and most of
// the status) are scrambled with a one-byte XOR.

#include "common/core/datetime.h"

#include <QByteArray>
#include <QString>
#include <array>
#include <cstdint>

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
constexpr int Reserved = 48; // 9 bytes
constexpr int ClientName = 57; // 1 + 40
constexpr int Service = 98;    // 1 + 20
constexpr int Note = 119;      // 1 + 20
constexpr int Status = 140;    // 1 + 20
constexpr int Alignment = 161; // 7 bytes
constexpr int ClientNameMax = 40;
constexpr int ShortMax = 20;
constexpr int ScrambleFirst = 57;
constexpr int ScrambleLast = 157;
} // namespace record

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
};

using RecordBytes = std::array<char, RecordSize>;

// The record's bytes, not scrambled. Bytes without a meaning are zeros;
// texts are converted to Windows-1251 and cut to their field's maximum.
RecordBytes serializeRecord(const LogRecord &r);
// Reads plain (unscrambled) bytes. A length byte above its field's maximum
// is taken as the maximum: nothing is read from beyond a field.
LogRecord deserializeRecord(const char *bytes);

// XORs bytes 57..157 with the key; applying it twice restores the record.
void ScrambleRecord(char *record);
inline void ScrambleRecord(RecordBytes &record) { ScrambleRecord(record.data()); }

// Little-endian double at an offset of a record.
double readDouble(const char *bytes, int offset);

} // namespace bilmeko
