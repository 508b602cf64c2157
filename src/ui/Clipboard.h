#pragma once

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

// The system clipboard for the screens, as the QML singleton "Clipboard": QML has no
// clipboard of its own outside text fields.
class Clipboard : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

public:
    explicit Clipboard(QObject *parent = nullptr);

    // Puts `text` on the clipboard as plain text only, so a paste gets exactly these
    // characters; false where this process has no clipboard to give it to.
    Q_INVOKABLE bool setText(const QString &text);
    Q_INVOKABLE QString text() const;
};
