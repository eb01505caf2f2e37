#pragma once
// Small helpers of the price tests: files in Windows-1251 with CR LF, a
// temporary folder that the unprivileged user can enter, rows as text.

#include "common/core/codepage.h"
#include "common/core/formats.h"
#include "common/core/memtable.h"

#include <QFile>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <sys/stat.h>

namespace pricetest {

// Lines joined with CR LF (and one after the last), in Windows-1251.
inline QByteArray crlf(const QStringList &lines)
{
    QByteArray out;
    for (const QString &l : lines)
        out += bilmeko::cp1251::encode(l) + "\r\n";
    return out;
}

inline QByteArray cp(const QString &text)
{
    return bilmeko::cp1251::encode(text);
}

inline void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY2(f.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    QCOMPARE(f.write(bytes), bytes.size());
}

inline QByteArray readFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray("<unreadable>");
    return f.readAll();
}

// Rows as "name=price" in table order; an empty price as "name=".
inline QStringList rowsOf(const bilmeko::MemTable &t)
{
    QStringList out;
    const int item = t.fieldIndex(QStringLiteral("PItem"));
    const int price = t.fieldIndex(QStringLiteral("PPrice"));
    for (int r = 0; r < t.rowCount(); ++r) {
        const QVariant p = t.value(r, price);
        out << t.value(r, item).toString() + QLatin1Char('=')
                + (p.isNull() ? QString() : bilmeko::Formats::generalNumber(p.toDouble()));
    }
    return out;
}

inline void addRows(bilmeko::MemTable &t, const QStringList &rows)
{
    for (const QString &r : rows) {
        const qsizetype eq = r.indexOf(QLatin1Char('='));
        const int at = t.appendRow();
        t.setValue(at, t.fieldIndex(QStringLiteral("PItem")), r.left(eq));
        if (const auto price = bilmeko::Formats::parseFloat(r.mid(eq + 1)))
            t.setValue(at, t.fieldIndex(QStringLiteral("PPrice")), *price);
    }
    if (!t.isEmpty())
        t.setCurrentRow(0);
}

// A temporary folder that every user may enter and write (the tests drop
// root's rights to see permissions apply).
class OpenDir
{
public:
    OpenDir() { ::chmod(QFile::encodeName(m_dir.path()).constData(), 0777); }
    ~OpenDir() { ::chmod(QFile::encodeName(m_dir.path()).constData(), 0777); }
    QString path() const { return m_dir.path(); }
    QString file(const QString &name) const { return m_dir.filePath(name); }
    void setMode(mode_t mode) const { ::chmod(QFile::encodeName(m_dir.path()).constData(), mode); }

private:
    QTemporaryDir m_dir;
};

inline void setMode(const QString &path, mode_t mode)
{
    QCOMPARE(::chmod(QFile::encodeName(path).constData(), mode), 0);
}

} // namespace pricetest
