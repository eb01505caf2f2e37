#pragma once
// A whole file written so that it is either the old one or the complete new
// one: a temporary file in the same folder, flushed to the disk, renamed
// over the target, the folder flushed. Given up (not committed), the
// temporary file is removed and the target stays as it was.

#include <QFile>
#include <QString>

namespace bilmeko {

class AtomicFile
{
public:
    explicit AtomicFile(const QString &target);
    ~AtomicFile();
    AtomicFile(const AtomicFile &) = delete;
    AtomicFile &operator=(const AtomicFile &) = delete;

    const QString &target() const { return m_target; }
    // The temporary file, created empty by open() (never an existing one).
    const QString &tempPath() const { return m_temp; }
    // Creates the temporary file; throws Error when it cannot be.
    QFile &open();
    QFile &file() { return m_file; }
    // Flushes what was written (through file(), or to tempPath() by another
    // writer), renames it over the target and flushes the folder; throws
    // Error, the temporary file removed, when any step fails.
    void commit();
    // The message of a failed save: names the file and the reason.
    QString failure(const QString &reason) const;

private:
    [[noreturn]] void fail(const QString &reason);

    QString m_target;
    QString m_temp;
    QFile m_file;
    bool m_done = false;
};

} // namespace bilmeko
