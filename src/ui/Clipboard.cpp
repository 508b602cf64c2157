#include "Clipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

Clipboard::Clipboard(QObject *parent)
    : QObject(parent)
{
}

bool Clipboard::setText(const QString &text)
{
    QClipboard *clipboard = qobject_cast<QGuiApplication *>(QCoreApplication::instance())
                                ? QGuiApplication::clipboard() : nullptr;
    if (!clipboard)
        return false;
    // Only text/plain: no rich-text twin that an editor might prefer and restyle.
    auto *data = new QMimeData;
    data->setText(text);
    clipboard->setMimeData(data, QClipboard::Clipboard);
    return true;
}

QString Clipboard::text() const
{
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        return {};
    return QGuiApplication::clipboard()->text(QClipboard::Clipboard);
}
