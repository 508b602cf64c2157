#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantList>

// What the dashboard's QML asks about personas and pages.
class PersonaCatalog : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QStringList personas READ personas CONSTANT)

public:
    explicit PersonaCatalog(QObject *parent = nullptr);

    QStringList personas() const;

    // The sidebar sections for a persona (an unknown name means "AI Engineer"), each
    // {title, entries: [{symbol, title}]}: the persona's tools, "SYSTEM MONITOR", "PREFERENCES".
    Q_INVOKABLE QVariantList sidebarSections(const QString &persona) const;

    // Which page a sidebar title opens ("disk" for "Game Caches"...); empty for none.
    Q_INVOKABLE static QString pageFor(const QString &title);
};
