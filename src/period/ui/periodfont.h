#pragma once
// The period windows' font: the default sans-serif face at the pixel size
// the windows' positions are laid out for (8 points, 11 pixels).

#include <QFont>

namespace bilmeko {

inline QFont periodFont()
{
    QFont f(QStringLiteral("Sans Serif"));
    f.setStyleHint(QFont::SansSerif);
    f.setPixelSize(11);
    return f;
}

// The calendar grid's smaller figures.
inline int calendarFontPixels()
{
    return 9;
}

} // namespace bilmeko
