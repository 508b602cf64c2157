#include "SDKVersionInfo.h"

#include <QJsonValue>

QJsonObject SDKVersionInfo::toJson() const
{
    return {{QStringLiteral("manager"), manager},
            {QStringLiteral("name"), name},
            {QStringLiteral("version"), version},
            {QStringLiteral("path"), path},
            {QStringLiteral("sizeBytes"), sizeBytes},
            {QStringLiteral("lastAccessDate"), lastAccessDate.toUTC().toString(Qt::ISODateWithMs)}};
}

std::optional<SDKVersionInfo> SDKVersionInfo::fromJson(const QJsonObject &object)
{
    const QJsonValue manager = object.value(QStringLiteral("manager"));
    const QJsonValue name = object.value(QStringLiteral("name"));
    const QJsonValue version = object.value(QStringLiteral("version"));
    const QJsonValue path = object.value(QStringLiteral("path"));
    const QJsonValue size = object.value(QStringLiteral("sizeBytes"));
    const QJsonValue date = object.value(QStringLiteral("lastAccessDate"));
    if (!manager.isString() || !name.isString() || !version.isString() || !path.isString() || !size.isDouble()
        || !date.isString())
        return std::nullopt;
    SDKVersionInfo info;
    info.manager = manager.toString();
    info.name = name.toString();
    info.version = version.toString();
    info.path = path.toString();
    // Sizes beyond 2^53 lose their last digits in JSON numbers; runtimes never get there.
    info.sizeBytes = size.toInteger(-1);
    info.lastAccessDate = QDateTime::fromString(date.toString(), Qt::ISODateWithMs);
    if (info.sizeBytes < 0 || !info.lastAccessDate.isValid())
        return std::nullopt;
    return info;
}
