#pragma once
// Lines of text given one at a time: the report's lines are formatted when
// they are needed rather than kept as one text.

#include <QString>
#include <QStringList>
#include <QtGlobal>

namespace bilmeko {

class TextLines
{
public:
    virtual ~TextLines() = default;
    virtual qsizetype lineCount() const = 0;
    virtual QString line(qsizetype n) const = 0;
};

// A text held whole, '\n' between lines (a '\r' before it dropped).
class StringLines : public TextLines
{
public:
    explicit StringLines(const QString &text) : m_lines(text.split(QLatin1Char('\n')))
    {
        for (QString &l : m_lines)
            if (l.endsWith(QLatin1Char('\r')))
                l.chop(1);
    }
    qsizetype lineCount() const override { return m_lines.size(); }
    QString line(qsizetype n) const override { return m_lines.at(n); }

private:
    QStringList m_lines;
};

} // namespace bilmeko
