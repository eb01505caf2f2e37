#pragma once
// A settings file read and written the way the Windows profile calls do it
// (see profiletext.h for the rules of the text). It keeps nothing but its
// path: every read goes to the file, every write replaces the file at once.
//
// Reading never fails: a file that is missing, is not a regular file, cannot
// be read or is larger than MaxBytes reads as empty. Writing refuses a file
// it could not read whole: it would lose what the file holds.
// Writing builds the whole new content (all other lines kept byte for byte)
// and replaces the file atomically (AtomicFile). On any failure it throws
// Error("Unable to write to <full path>") and the old file is left exactly
// as it was; a missing file is created.
//
// A file in UTF-8 (see profile::toCodePage) is read converted to the code
// page, so its next write stores it in the code page.
//
// The start reads many keys of one file: between holdText() and
// releaseText() every read uses the text read once when holding began.
// A write through this object ends the hold (the file has changed).

#include "profiletext.h"

#include <QByteArray>
#include <QString>
#include <functional>
#include <memory>

namespace bilmeko {

class ProfileFile
{
public:
    // Larger files are not taken for settings files: 4 MiB holds some
    // 150,000 price lines, far more than any salon sells.
    static constexpr qint64 MaxBytes = 4 * 1024 * 1024;

    explicit ProfileFile(QString path);

    // The full path, as messages show it.
    const QString &path() const { return m_path; }

    QStringList keys(const QString &section) const;
    QString readString(const QString &section, const QString &key) const;
    // Every key line of the section in file order (repeated keys included),
    // read in one go.
    QList<profile::Entry> readSection(const QString &section) const;
    // The whole text, in the code page; fromUtf8 tells whether the file was
    // converted from UTF-8.
    std::shared_ptr<const profile::ProfileText> text(bool *fromUtf8 = nullptr) const;

    void writeString(const QString &section, const QString &key, const QString &value) const;
    void eraseSection(const QString &section) const;
    // Erases the section and writes these entries in one atomic step. The
    // entry lines that keptLines picks in the current text stay in the file
    // as comments (profile::ProfileText::withSection).
    using LinePicker = std::function<QList<qsizetype>(const profile::ProfileText &)>;
    void replaceSection(const QString &section, const QList<profile::Entry> &entries, const LinePicker &keptLines = {},
                        const QByteArray &commentPrefix = QByteArray(";")) const;

    enum class ReadStatus { Ok, Missing, Failed, TooLarge };
    void holdText();
    void releaseText();
    // How reading the file went (while held, the read holding began with).
    ReadStatus readStatus() const;

    struct ReadResult
    {
        ReadStatus status = ReadStatus::Missing;
        QByteArray bytes;
    };
    // The file's bytes; never blocks on a pipe or device. A regular file
    // over maxBytes is TooLarge and is not read.
    static ReadResult readBytes(const QString &path, qint64 maxBytes = MaxBytes);
    // What the operator is told of a file over MaxBytes, naming it.
    static QString tooLargeMessage(const QString &path);

private:
    struct Read
    {
        ReadStatus status = ReadStatus::Missing;
        bool fromUtf8 = false;
        profile::ProfileText text;
    };
    std::shared_ptr<const Read> read() const;
    // The current content for an edit; throws when an existing file cannot
    // be read, since writing would lose what it holds.
    profile::ProfileText loadForUpdate() const;
    void commit(const QByteArray &bytes) const;
    [[noreturn]] void failWrite() const;

    QString m_path;
    mutable std::shared_ptr<const Read> m_held;
};

} // namespace bilmeko
