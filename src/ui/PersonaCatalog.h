#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QVariantList>
#include <QtQml/qqmlregistration.h>

// What the dashboard's QML asks about personas and pages: the sidebar of each persona and
// the one table that says which page file a sidebar title opens.
class PersonaCatalog : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("Reach the catalog through Services.personas.")
    Q_PROPERTY(QStringList personas READ personas CONSTANT)

public:
    explicit PersonaCatalog(QObject *parent = nullptr);

    QStringList personas() const;

    // The sidebar sections for a persona (an unknown name means "AI Engineer"), each
    // {title, entries: [{symbol, title}]}: the persona's tools, "SYSTEM MONITOR", "PREFERENCES".
    Q_INVOKABLE QVariantList sidebarSections(const QString &persona) const;
    // The persona's symbol name ("sparkles" for "AI Engineer"); empty for an unknown name.
    Q_INVOKABLE static QString iconFor(const QString &persona);

    // Which page a sidebar title opens: the name of its file in pages/ ("DiskPage" for
    // "Game Caches"...); empty for a title no page answers to.
    Q_INVOKABLE static QString pageFor(const QString &title);
    // Where that page's file is in the module; empty when the title has no page or its
    // page is not part of this build, which the dashboard says plainly instead.
    Q_INVOKABLE static QUrl pageSource(const QString &title);
};
