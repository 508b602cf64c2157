#pragma once

#include <QColor>
#include <QIcon>
#include <QString>

// The screens name their icons with the symbol names of the original design ("bolt.fill",
// "gearshape.fill"...). This maps each to a freedesktop icon name and, where the icon theme
// lacks it (or there is no theme, as offscreen), to a simple drawn glyph: never a blank.
class SymbolIcon
{
public:
    // The freedesktop icon name for a symbol; empty when there is no counterpart.
    static QString themeName(const QString &symbol);

    static QIcon icon(const QString &symbol);

    // The drawn stand-in in `color` on transparent, `size` logical pixels square.
    static QPixmap drawn(const QString &symbol, int size = 22, qreal devicePixelRatio = 2.0,
                         const QColor &color = Qt::white);
};
