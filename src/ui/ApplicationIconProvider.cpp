#include "ApplicationIconProvider.h"

#include "SymbolIcon.h"

#include <QIcon>
#include <QUrl>

ApplicationIconProvider::ApplicationIconProvider()
    : QQuickImageProvider(QQuickImageProvider::Pixmap)
{
}

QPixmap ApplicationIconProvider::requestPixmap(const QString &id, QSize *size, const QSize &requestedSize)
{
    const int side = requestedSize.width() > 0 ? requestedSize.width() : 32;
    const QString icon = QUrl::fromPercentEncoding(id.toUtf8());
    QPixmap pixmap;
    if (icon.startsWith(u'/'))
        pixmap = QIcon(icon).pixmap(side, side);
    else if (!icon.isEmpty())
        pixmap = QIcon::fromTheme(icon).pixmap(side, side);
    if (pixmap.isNull())
        pixmap = SymbolIcon::drawn(QStringLiteral("app.fill"), side, 1.0, Qt::gray);
    if (size)
        *size = pixmap.size();
    return pixmap;
}
