#pragma once

#include <QMetaType>
#include <QString>

// One line of the cache table as the screens list it: which cache, its size now, and where
// it lives.
struct CacheRowInfo
{
    Q_GADGET
    Q_PROPERTY(QString id MEMBER key)
    Q_PROPERTY(QString key MEMBER key)
    Q_PROPERTY(QString title MEMBER title)
    Q_PROPERTY(QString group MEMBER group)
    Q_PROPERTY(qint64 sizeBytes MEMBER sizeBytes)
    Q_PROPERTY(QString location MEMBER location)
    Q_PROPERTY(bool onThisPlatform MEMBER onThisPlatform)

public:
    QString key;                 // the service's size property for this cache
    QString title;
    QString group;               // "developer" or "creative"
    qint64 sizeBytes = 0;
    QString location;            // the first folder measured; empty where there is none
    bool onThisPlatform = true;  // false for tools that exist only on macOS

    bool operator==(const CacheRowInfo &) const = default;
};

Q_DECLARE_METATYPE(CacheRowInfo)
