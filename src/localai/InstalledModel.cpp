#include "InstalledModel.h"

#include "JsonFields.h"
#include "LocalAIModel.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using JsonFields::integerValue;
using JsonFields::optionalText;

std::optional<QList<InstalledModel>> InstalledModel::decodeTags(const QByteArray &body)
{
    const std::optional<QList<QJsonObject>> entries = JsonFields::modelEntries(body);
    if (!entries)
        return std::nullopt;
    QList<InstalledModel> list;
    for (const QJsonObject &object : *entries) {
        InstalledModel model;
        const QJsonValue name = object.value(QStringLiteral("name"));
        if (!name.isString() || name.toString().isEmpty() || !integerValue(object.value(QStringLiteral("size")), model.size)
            || model.size < 0)
            return std::nullopt;
        model.name = name.toString();

        std::optional<QString> digest, modified, remoteHost;
        if (!optionalText(object, QStringLiteral("digest"), digest)
            || !optionalText(object, QStringLiteral("modified_at"), modified)
            || !optionalText(object, QStringLiteral("remote_host"), remoteHost))
            return std::nullopt;
        model.digest = digest.value_or(QString());
        if (modified)
            model.modifiedAt = LocalAIModel::parseTimestamp(*modified);
        model.remote = remoteHost && !remoteHost->isEmpty();

        QList<std::optional<QString>> details;
        if (!JsonFields::detailTexts(object, {QStringLiteral("parameter_size"), QStringLiteral("quantization_level"), QStringLiteral("family")}, details))
            return std::nullopt;
        model.parameterSize = details[0].value_or(QString());
        model.quantization = details[1].value_or(QString());
        model.family = details[2].value_or(QString());
        list.append(model);
    }
    return list;
}

QList<InstalledModel> InstalledModel::samples(const QDateTime &now)
{
    const auto sample = [&now](const char *name, qint64 size, const char *parameters, const char *quantization,
                               const char *family, int daysAgo) {
        InstalledModel model;
        model.name = QLatin1String(name);
        model.size = size;
        model.parameterSize = QLatin1String(parameters);
        model.quantization = QLatin1String(quantization);
        model.family = QLatin1String(family);
        model.modifiedAt = now.addDays(-daysAgo);
        return model;
    };
    // The two the demo has loaded and five more, about the sizes Ollama's library lists for
    // these tags, newest first as the server lists them.
    return {sample("deepseek-coder:6.7b", 4724464640, "6.7B", "Q4_K_M", "llama", 3),
            sample("llama3:8b", 4661224816, "8B", "Q4_0", "llama", 6),
            sample("qwen2.5:3b", 1929912432, "3.1B", "Q4_K_M", "qwen2", 8),
            sample("qwen2.5-coder:14b", 8988124069, "14.8B", "Q4_K_M", "qwen2", 9),
            sample("phi3:mini", 2176178913, "3.8B", "Q4_0", "phi3", 12),
            sample("llama3.3:70b-instruct-q5_K_M", 49949817312, "70.6B", "Q5_K_M", "llama", 21),
            sample("llama3.1:405b", 243000000000, "405.9B", "Q4_0", "llama", 40)};
}
