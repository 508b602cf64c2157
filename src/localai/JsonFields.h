#pragma once

#include <QJsonObject>
#include <QJsonValue>
#include <QString>

#include <cmath>
#include <optional>

// Readers for the fields of Ollama's JSON answers, strict about types: a field of the
// wrong type makes the whole answer unreadable rather than a silent zero.
namespace JsonFields {

// A JSON number that is a whole value representable as a 64-bit integer. QJsonValue keeps
// integers beyond 2^53 as doubles, so model sizes are read as doubles and checked.
inline bool integerValue(const QJsonValue &value, qint64 &out)
{
    if (!value.isDouble())
        return false;
    const double d = value.toDouble();
    if (!std::isfinite(d) || std::floor(d) != d || std::fabs(d) > 9.2e18)
        return false;
    out = value.toInteger(static_cast<qint64>(d));
    return true;
}

// An optional text key: absent and null are "not given"; any other type is an error.
inline bool optionalText(const QJsonObject &object, const QString &key, std::optional<QString> &out)
{
    const QJsonValue value = object.value(key);
    if (value.isUndefined() || value.isNull())
        return true;
    if (!value.isString())
        return false;
    out = value.toString();
    return true;
}

}
