#pragma once
// The text of an initialisation file ("[Section]" headers, then "key=value"
// lines) as the Windows profile calls see it, over the raw bytes in
// Windows-1251. Pure functions over bytes: nothing here touches a file.
//
// Reading: section and key names match without regard to letter case
// (Cyrillic too); blanks around names and values are ignored; a value's
// enclosing matching quotes ('...' or "...") are removed. Sections of the
// same name count as one section. Lines that start with ';' are comments.
// Editing returns the new content: every line the edit does not concern
// keeps its bytes, and the lines it writes end in CR LF.

#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>
#include <vector>

namespace bilmeko::profile {

struct Entry
{
    QString key;
    QString value;
    friend bool operator==(const Entry &, const Entry &) = default;
};

enum class LineKind : quint8 {
    Other, // blank line, comment, text before the first section, unknown text
    Section, // "[name]"
    Entry, // "key=value" inside a section
};

struct Line
{
    qsizetype begin = 0; // first byte of the line
    qsizetype end = 0; // end of its text, before CR LF or LF
    qsizetype next = 0; // first byte of the following line
    LineKind kind = LineKind::Other;
};

// Blanks as the profile calls trim them: space, tab, CR, VT, FF.
bool isBlank(QChar c);
QString trimBlanks(const QString &text);

// Splits the bytes into lines (LF or CR LF; a last line may lack its end)
// and tells their kinds. Never fails, whatever the bytes.
std::vector<Line> splitLines(const QByteArray &bytes);

class ProfileText
{
public:
    explicit ProfileText(QByteArray bytes = {});

    const QByteArray &bytes() const { return m_bytes; }
    const std::vector<Line> &lines() const { return m_lines; }

    bool hasSection(const QString &section) const;
    // Every key line of the section in file order, repeated keys included.
    QList<Entry> entries(const QString &section) const;
    // Indexes into lines() of the section's key lines, in file order.
    QList<qsizetype> entryLines(const QString &section) const;
    // The key names of the section in file order, repeated keys included.
    QStringList keys(const QString &section) const;
    // The value of the key's first line in the section; empty text if none.
    QString value(const QString &section, const QString &key) const;

    // Replaces the value of the key's first line, or appends the line to the
    // end of the section, or appends the section to the end of the text.
    QByteArray withValue(const QString &section, const QString &key, const QString &value) const;
    // Removes every section of that name: headers and all their lines.
    QByteArray withoutSection(const QString &section) const;
    // The section holding exactly these entries, as erasing it and writing
    // them one by one would leave it, but kept in its place: its comments
    // and blank lines stay, the new key lines take the place of the first
    // old one. Further sections of the same name go. With no entries, a
    // missing section is not added. The entry lines listed in `asComments`
    // (indexes into lines()) are not dropped but kept as comments, their
    // text after `commentPrefix`: in place in the first section, after the
    // new key lines when they stood in a later one.
    QByteArray withSection(const QString &section, const QList<Entry> &entries, const QList<qsizetype> &asComments = {},
                           const QByteArray &commentPrefix = QByteArray(";")) const;

    // Text of a line's parts, decoded.
    QString sectionName(const Line &line) const;
    QString keyOf(const Line &line) const;
    QString valueOf(const Line &line) const;
    // The same, as the bytes in the code page (empty for a line that is
    // not a key line).
    QByteArrayView keyBytes(const Line &line) const;
    QByteArrayView valueBytes(const Line &line) const;

private:
    enum Member : quint8 { Outside, FirstHeader, InFirst, InLater };
    // For each line, where it stands relative to the named section.
    std::vector<Member> membership(const QString &section) const;

    QByteArray m_bytes;
    std::vector<Line> m_lines;
};

// The bytes of a settings file in the code page. A file that is valid UTF-8
// and not plain ASCII, or begins with the UTF-8 byte-order mark, was written
// by a text editor in UTF-8: it is converted (the mark dropped, characters
// outside the code page as '?') and fromUtf8 is set. Anything else is
// taken as the code page already, as it is.
struct CodePageBytes
{
    QByteArray bytes;
    bool fromUtf8 = false;
};
CodePageBytes toCodePage(QByteArray bytes);

// "key=value" with CR LF, in Windows-1251.
QByteArray entryLine(const QString &key, const QString &value);

} // namespace bilmeko::profile
