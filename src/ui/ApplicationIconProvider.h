#pragma once

#include <QQuickImageProvider>

// Serves the icons of the process table to QML as "image://appicon/<icon>", where <icon>
// is a theme icon name or an absolute icon file path (percent-encoded). A name the icon
// theme does not have comes back as the generic application glyph.
class ApplicationIconProvider : public QQuickImageProvider
{
public:
    ApplicationIconProvider();

    QPixmap requestPixmap(const QString &id, QSize *size, const QSize &requestedSize) override;
};
