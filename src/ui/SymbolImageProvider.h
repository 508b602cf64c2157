#pragma once

#include <QQuickImageProvider>

// Serves symbol glyphs to QML as "image://symbol/<name>?<colour>", e.g.
// "image://symbol/gearshape.fill?ffffffff" (the colour as AARRGGBB or RRGGBB hex digits). Drawn rather than themed, so the screens look
// the same on every desktop and follow the app's own colour theme.
class SymbolImageProvider : public QQuickImageProvider
{
public:
    SymbolImageProvider();

    QPixmap requestPixmap(const QString &id, QSize *size, const QSize &requestedSize) override;
};
