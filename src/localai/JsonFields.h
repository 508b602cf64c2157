#pragma once

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>

#include <cmath>
#include <initializer_list>
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

// The entries of the "models" array both listings (/api/ps, /api/tags) answer with; an
// absent or null array is no entries. None when the body is not a JSON object, "models"
// is not an array, or an entry is not an object.
inline std::optional<QList<QJsonObject>> modelEntries(const QByteArray &body)
{
    QJsonParseError error {};
    const QJsonDocument document = QJsonDocument::fromJson(body, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    const QJsonValue models = document.object().value(QStringLiteral("models"));
    QList<QJsonObject> entries;
    if (models.isUndefined() || models.isNull())
        return entries;
    if (!models.isArray())
        return std::nullopt;
    for (const QJsonValue &entry : models.toArray()) {
        if (!entry.isObject())
            return std::nullopt;
        entries.append(entry.toObject());
    }
    return entries;
}

// The optional texts of an entry's "details" object, for `keys` in order: each absent one
// stays unset. False when "details" or one of them has the wrong type.
inline bool detailTexts(const QJsonObject &entry, std::initializer_list<QString> keys, QList<std::optional<QString>> &out)
{
    out = QList<std::optional<QString>>(qsizetype(keys.size()));
    const QJsonValue details = entry.value(QStringLiteral("details"));
    if (details.isUndefined() || details.isNull())
        return true;
    if (!details.isObject())
        return false;
    const QJsonObject d = details.toObject();
    qsizetype i = 0;
    for (const QString &key : keys)
        if (!optionalText(d, key, out[i++]))
            return false;
    return true;
}

}
