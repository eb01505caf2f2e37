#pragma once
// Reading a printed PDF back with poppler's tools: the text of its pages as
// laid out on paper, and how many pages it has.

#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

namespace bilmeko::test {

// The standard output of a program; empty when it fails.
inline QString runTool(const QString &program, const QStringList &args)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(30000) || p.exitCode() != 0)
        return QString();
    return QString::fromUtf8(p.readAllStandardOutput());
}

// The text of the pages (or of one page), one printed row a line.
inline QString pdfText(const QString &pdf, int page = 0)
{
    QStringList args{QStringLiteral("-layout")};
    if (page > 0)
        args << QStringLiteral("-f") << QString::number(page) << QStringLiteral("-l") << QString::number(page);
    args << pdf << QStringLiteral("-");
    return runTool(QStringLiteral("pdftotext"), args);
}

// The rows of one page as printed, blank rows left out, blanks squeezed.
inline QStringList pageRows(const QString &pdf, int page)
{
    QStringList rows;
    for (QString row : pdfText(pdf, page).split(QLatin1Char('\n'))) {
        row = row.simplified();
        if (!row.isEmpty())
            rows << row;
    }
    return rows;
}

inline int pdfPages(const QString &pdf)
{
    const QString info = runTool(QStringLiteral("pdfinfo"), {pdf});
    const QRegularExpressionMatch m = QRegularExpression(QStringLiteral("Pages:\\s+(\\d+)")).match(info);
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

} // namespace bilmeko::test
