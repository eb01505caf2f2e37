/* bilmeko-bench-plain-csv: what the report's CSV costs when nothing but
 * the bytes is done, the yardstick bilmeko-report --csv is held against.
 *
 *   bilmeko-bench-plain-csv JOURNAL FIRST LAST   the CSV of the records written
 *                                                from day FIRST to day LAST
 *                                                (day numbers since 30.12.1899)
 *   bilmeko-bench-plain-csv --read JOURNAL       reads the file, sums the amounts
 *
 * Plain C: read(2) in large pieces, the record layout by hand, digits by
 * hand, one buffer for standard output. It writes the bytes bilmeko-report
 * writes for journals of ordinary records (amounts with at most two
 * decimals, texts without ';', '"' or line breaks, no desk column); the
 * bench compares the two outputs before it times them. */

#define _GNU_SOURCE
#include <fcntl.h>
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

enum { RecordSize = 168, Key = 0xA7, Piece = RecordSize * 1536 };

static const unsigned short Cp1251High[128] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A,
    0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0xFFFD, 0x2122,
    0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6,
    0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456,
    0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457, 0x0410,
    0x0411, 0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417, 0x0418, 0x0419, 0x041A, 0x041B, 0x041C, 0x041D,
    0x041E, 0x041F, 0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427, 0x0428, 0x0429, 0x042A,
    0x042B, 0x042C, 0x042D, 0x042E, 0x042F, 0x0430, 0x0431, 0x0432, 0x0433, 0x0434, 0x0435, 0x0436, 0x0437,
    0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D, 0x043E, 0x043F, 0x0440, 0x0441, 0x0442, 0x0443, 0x0444,
    0x0445, 0x0446, 0x0447, 0x0448, 0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,
};

static char out[1 << 16];
static size_t outN;

static void flushOut(void)
{
    size_t done = 0;
    while (done < outN) {
        ssize_t k = write(1, out + done, outN - done);
        if (k <= 0)
            exit(2);
        done += (size_t)k;
    }
    outN = 0;
}

static char *room(size_t n)
{
    if (outN + n > sizeof out)
        flushOut();
    return out + outN;
}

static double num(const unsigned char *r, int at)
{
    double v;
    memcpy(&v, r + at, sizeof v);
    return v;
}

static char *two(char *p, int v)
{
    p[0] = (char)('0' + v / 10);
    p[1] = (char)('0' + v % 10);
    return p + 2;
}

static char *hms(char *p, int64_t secs)
{
    p = two(p, (int)(secs / 3600));
    *p++ = ':';
    p = two(p, (int)(secs / 60 % 60));
    *p++ = ':';
    return two(p, (int)(secs % 60));
}

static char *timeOfDay(char *p, double v)
{
    int64_t ms = llround(fabs(v) * 86400000.0) % 86400000;
    return hms(p, ms / 1000);
}

static char *money(char *p, double v)
{
    int64_t c = llround(v * 100);
    if (c < 0) {
        *p++ = '-';
        c = -c;
    }
    char digits[24];
    int n = 0;
    int64_t whole = c / 100;
    do
        digits[n++] = (char)('0' + whole % 10);
    while ((whole /= 10) > 0);
    while (n > 0)
        *p++ = digits[--n];
    *p++ = ',';
    return two(p, (int)(c % 100));
}

/* dd.mm.yyyy of a day number since 30.12.1899 (the civil calendar). */
static char *date(char *p, int64_t day)
{
    int64_t z = day - 25569 + 719468; /* to days since 1.3.0000 */
    int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    int64_t doe = z - era * 146097;
    int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    int64_t mp = (5 * doy + 2) / 153;
    int d = (int)(doy - (153 * mp + 2) / 5 + 1);
    int m = (int)(mp < 10 ? mp + 3 : mp - 9);
    int y = (int)(yoe + era * 400 + (m <= 2));
    p = two(p, d);
    *p++ = '.';
    p = two(p, m);
    *p++ = '.';
    p = two(p, y / 100);
    return two(p, y % 100);
}

static char *text(char *p, const unsigned char *r, int at, int max)
{
    int n = r[at] ^ Key;
    if (n > max)
        n = max;
    for (int k = 1; k <= n; ++k) {
        unsigned c = r[at + k] ^ (at + k <= 157 ? Key : 0);
        if (c >= 0x80)
            c = Cp1251High[c - 0x80];
        if (c < 0x80) {
            *p++ = (char)c;
        } else if (c < 0x800) {
            *p++ = (char)(0xC0 | (c >> 6));
            *p++ = (char)(0x80 | (c & 0x3F));
        } else {
            *p++ = (char)(0xE0 | (c >> 12));
            *p++ = (char)(0x80 | ((c >> 6) & 0x3F));
            *p++ = (char)(0x80 | (c & 0x3F));
        }
    }
    return p;
}

static void row(const unsigned char *r)
{
    char *p = room(512), *start = p;
    int64_t ms = llround(num(r, 0) * 86400000.0);
    int64_t day = ms / 86400000, inDay = ms % 86400000;
    if (inDay < 0) {
        inDay += 86400000;
        --day;
    }
    p = date(p, day);
    *p++ = ' ';
    p = hms(p, inDay / 1000);
    *p++ = ';';
    p = text(p, r, 57, 40);
    *p++ = ';';
    p = text(p, r, 98, 20);
    *p++ = ';';
    p = money(p, num(r, 8));
    *p++ = ';';
    p = timeOfDay(p, num(r, 16));
    *p++ = ';';
    p = timeOfDay(p, num(r, 24));
    *p++ = ';';
    p = timeOfDay(p, num(r, 32));
    *p++ = ';';
    p = money(p, num(r, 40));
    *p++ = ';';
    p = text(p, r, 119, 20);
    *p++ = ';';
    p = text(p, r, 140, 20);
    *p++ = ';';
    {
        /* The payment method: bits 4..5 of the mark byte of a sealed record. */
        static const char *const methods[] = {"не указано", "наличные", "карта", "перевод"};
        const unsigned mark = r[56] & 0x0F;
        const char *m = methods[mark == 1 || mark == 2 ? (r[56] >> 4) & 3 : 0];
        size_t n = strlen(m);
        memcpy(p, m, n);
        p += n;
    }
    *p++ = '\r';
    *p++ = '\n';
    outN += (size_t)(p - start);
}

int main(int argc, char **argv)
{
    int readOnly = argc == 3 && strcmp(argv[1], "--read") == 0;
    if (!readOnly && argc != 4) {
        fputs("bilmeko-bench-plain-csv JOURNAL FIRST LAST | --read JOURNAL\n", stderr);
        return 2;
    }
    int fd = open(argv[readOnly ? 2 : 1], O_RDONLY);
    if (fd < 0)
        return 2;
    double from = readOnly ? 0 : atof(argv[2]);
    double after = readOnly ? 0 : atof(argv[3]) + 1;
    static unsigned char piece[Piece];
    double sum = 0;
    if (!readOnly) {
        static const char header[] = "\xEF\xBB\xBF"
                                     "Время;Клиент;Услуга;Цена;Начало;Время;Конец;Сумма;Комент.;Статус;Оплата\r\n";
        memcpy(room(sizeof header), header, sizeof header - 1);
        outN += sizeof header - 1;
    }
    size_t have = 0;
    ssize_t got;
    while ((got = read(fd, piece + have, sizeof piece - have)) > 0) {
        have += (size_t)got;
        size_t whole = have / RecordSize;
        for (size_t i = 0; i < whole; ++i) {
            const unsigned char *r = piece + i * RecordSize;
            if (readOnly) {
                sum += num(r, 40);
                continue;
            }
            double written = num(r, 0);
            if (written >= from && written < after)
                row(r);
        }
        memmove(piece, piece + whole * RecordSize, have - whole * RecordSize);
        have -= whole * RecordSize;
    }
    close(fd);
    if (readOnly)
        printf("%.2f\n", sum);
    flushOut();
    return 0;
}
