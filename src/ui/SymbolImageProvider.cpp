#include "SymbolImageProvider.h"

#include "SymbolIcon.h"

#include <QColor>

#include <algorithm>

SymbolImageProvider::SymbolImageProvider()
    : QQuickImageProvider(QQuickImageProvider::Pixmap)
{
}

QPixmap SymbolImageProvider::requestPixmap(const QString &id, QSize *size, const QSize &requestedSize)
{
    const qsizetype query = id.indexOf(QLatin1Char('?'));
    const QString symbol = id.left(query);
    QColor color(Qt::white);
    if (query >= 0) {
        // '#' would start a URL fragment, so the colour comes as bare hex digits.
        const QColor parsed = QColor::fromString(QLatin1Char('#') + id.mid(query + 1));
        if (parsed.isValid())
            color = parsed;
    }
    const int side = requestedSize.isValid() ? std::max(requestedSize.width(), requestedSize.height()) : 24;
    // Requested sizes are already in device pixels; draw at 1:1.
    QPixmap pixmap = SymbolIcon::drawn(symbol, side, 1.0, color);
    if (size)
        *size = pixmap.size();
    return pixmap;
}
