#include "LocalAIModel.h"

#include "JsonFields.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>

QList<LocalAIModel> LocalAIModel::samples(const QDateTime &now)
{
    LocalAIModel coder;
    coder.name = QStringLiteral("deepseek-coder:6.7b");
    coder.size = 4724464640;
    coder.parameterSize = QStringLiteral("6.7B");
    coder.quantization = QStringLiteral("Q4_K_M");
    coder.format = QStringLiteral("gguf");
    coder.expiresAt = now.addSecs(240);

    LocalAIModel llama;
    llama.name = QStringLiteral("llama3:8b");
    llama.size = 4661224816;
    llama.parameterSize = QStringLiteral("8B");
    llama.quantization = QStringLiteral("Q4_0");
    llama.format = QStringLiteral("gguf");
    llama.expiresAt = now.addSecs(120);
    return {coder, llama};
}

using JsonFields::integerValue;
using JsonFields::optionalText;

std::optional<QList<LocalAIModel>> LocalAIModel::decodeListing(const QByteArray &body)
{
    const std::optional<QList<QJsonObject>> entries = JsonFields::modelEntries(body);
    if (!entries)
        return std::nullopt;
    QList<LocalAIModel> list;
    for (const QJsonObject &object : *entries) {
        LocalAIModel model;
        const QJsonValue name = object.value(QStringLiteral("name"));
        if (!name.isString() || !integerValue(object.value(QStringLiteral("size")), model.size))
            return std::nullopt;
        model.name = name.toString();

        QList<std::optional<QString>> details;
        if (!JsonFields::detailTexts(object, {QStringLiteral("parameter_size"), QStringLiteral("quantization_level"), QStringLiteral("format")}, details))
            return std::nullopt;
        model.parameterSize = details[0].value_or(QStringLiteral("Unknown"));
        model.quantization = details[1].value_or(QStringLiteral("Unknown"));
        model.format = details[2].value_or(QStringLiteral("gguf"));

        // Newer servers say how much sits in video memory and the context they loaded it
        // with; an older one says neither, which reads as none and unknown.
        const QJsonValue vram = object.value(QStringLiteral("size_vram"));
        if (!vram.isUndefined() && !vram.isNull() && !integerValue(vram, model.sizeVram))
            return std::nullopt;
        const QJsonValue context = object.value(QStringLiteral("context_length"));
        if (!context.isUndefined() && !context.isNull() && !integerValue(context, model.contextLength))
            return std::nullopt;

        std::optional<QString> digest;
        if (!optionalText(object, QStringLiteral("digest"), digest))
            return std::nullopt;
        model.digest = digest.value_or(QString());

        std::optional<QString> expires;
        if (!optionalText(object, QStringLiteral("expires_at"), expires))
            return std::nullopt;
        if (expires)
            model.expiresAt = parseTimestamp(*expires);
        list.append(model);
    }
    return list;
}

std::optional<QDateTime> LocalAIModel::parseTimestamp(const QString &text)
{
    // RFC 3339: date, "T", time, optional fraction, then "Z" or ±hh:mm. Ollama prints up
    // to nine fraction digits, more than Qt's own ISO parser keeps, so the fraction is
    // cut to milliseconds here.
    static const QRegularExpression pattern(QStringLiteral(
        "^(\\d{4})-(\\d{2})-(\\d{2})[Tt](\\d{2}):(\\d{2}):(\\d{2})(?:\\.(\\d+))?(?:([Zz])|([+-])(\\d{2}):(\\d{2}))$"));
    const QRegularExpressionMatch m = pattern.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    const QDate date(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
    const QString fraction = m.captured(7);
    const int millis = fraction.isEmpty() ? 0 : (fraction + QStringLiteral("00")).left(3).toInt();
    const QTime time(m.captured(4).toInt(), m.captured(5).toInt(), m.captured(6).toInt(), millis);
    if (!date.isValid() || !time.isValid())
        return std::nullopt;
    int offset = 0;
    if (m.capturedLength(8) == 0) {
        const int hours = m.captured(10).toInt();
        const int minutes = m.captured(11).toInt();
        if (hours > 23 || minutes > 59)
            return std::nullopt;
        offset = (hours * 60 + minutes) * 60 * (m.captured(9) == QLatin1String("-") ? -1 : 1);
    }
    const QDateTime stamp(date, time, Qt::UTC);
    return stamp.addSecs(-offset);
}

QJsonObject LocalAIModel::toJson() const
{
    QJsonObject object{{QStringLiteral("name"), name},
                       {QStringLiteral("size"), size},
                       {QStringLiteral("parameterSize"), parameterSize},
                       {QStringLiteral("quantization"), quantization},
                       {QStringLiteral("format"), format}};
    if (expiresAt)
        object.insert(QStringLiteral("expiresAt"), expiresAt->toUTC().toString(Qt::ISODateWithMs));
    return object;
}

QString LocalAIModel::residency() const
{
    if (size <= 0)
        return {};
    if (sizeVram <= 0)
        return QStringLiteral("100% CPU");
    if (sizeVram >= size)
        return QStringLiteral("100% GPU");
    // Rounded as Ollama's client rounds it; both halves stay off 0 and 100 so a split
    // never reads as all on one side.
    const double cpuShare = double(size - sizeVram) / double(size) * 100.0;
    const int cpu = std::clamp(int(std::lround(cpuShare)), 1, 99);
    return QStringLiteral("%1% / %2% CPU/GPU").arg(cpu).arg(100 - cpu);
}

QString LocalAIModel::expiryText(const QDateTime &expiresAt, const QDateTime &now)
{
    if (!expiresAt.isValid())
        return {};
    if (expiresAt > now.addYears(20))
        return QStringLiteral("Forever");
    const qint64 left = now.secsTo(expiresAt);
    if (left <= 0)
        return QStringLiteral("Stopping…");
    const auto plural = [](qint64 n, const char *unit) {
        return QStringLiteral("in %1 %2%3").arg(n).arg(QLatin1String(unit)).arg(n == 1 ? "" : "s");
    };
    if (left < 60)
        return plural(left, "second");
    if (left < 3600)
        return plural(left / 60, "minute");
    if (left < 48 * 3600)
        return plural(left / 3600, "hour");
    return plural(left / 86400, "day");
}
