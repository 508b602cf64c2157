#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QMetaType>
#include <QString>
#include <QMetaType>

#include <optional>

// One runtime version a version manager (nvm, mise, asdf) has installed.
struct SDKVersionInfo
{
    Q_GADGET
    Q_PROPERTY(QString id READ id)
    Q_PROPERTY(QString manager MEMBER manager)
    Q_PROPERTY(QString name MEMBER name)
    Q_PROPERTY(QString version MEMBER version)
    Q_PROPERTY(QString path MEMBER path)
    Q_PROPERTY(qint64 sizeBytes MEMBER sizeBytes)
    Q_PROPERTY(QDateTime lastAccessDate MEMBER lastAccessDate)
    Q_PROPERTY(double sizeInMB READ sizeInMB)

public:
    QString manager;          // "nvm", "mise" or "asdf"
    QString name;             // the tool: "node" for nvm
    QString version;          // the version folder's name
    QString path;             // absolute; sample rows begin with "~/"
    qint64 sizeBytes = 0;
    QDateTime lastAccessDate; // the folder's modification time

    QString id() const { return manager + QLatin1Char('-') + name + QLatin1Char('-') + version; }
    double sizeInMB() const { return static_cast<double>(sizeBytes) / 1024.0 / 1024.0; }

    // Dates travel as ISO 8601 with milliseconds, in UTC.
    QJsonObject toJson() const;
    static std::optional<SDKVersionInfo> fromJson(const QJsonObject &object);
    bool operator==(const SDKVersionInfo &) const = default;
};

Q_DECLARE_METATYPE(SDKVersionInfo)
