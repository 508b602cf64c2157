#include "ModelManifest.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>

namespace {
// A manifest is a few KB; anything far larger is not one and is not read whole.
constexpr qint64 kMaxManifestBytes = 4 * 1024 * 1024;
}

QString ModelManifest::normalDigest(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral("^(?:sha256[:-])?([0-9a-fA-F]{64})$"));
    const QRegularExpressionMatch match = pattern.match(text.trimmed());
    return match.hasMatch() ? match.captured(1).toLower() : QString();
}

QString ModelManifest::path(const QString &modelsDir, const QString &modelName)
{
    QString name = modelName.trimmed();
    QString tag = QLatin1String(kDefaultTag);
    // The tag follows the last colon of the last component; a colon before a slash is a
    // registry's port ("host:5000/user/model").
    const qsizetype slash = name.lastIndexOf(u'/');
    const qsizetype colon = name.lastIndexOf(u':');
    if (colon > slash) {
        tag = name.mid(colon + 1);
        name = name.left(colon);
    }
    QStringList parts = name.split(u'/');
    if (parts.size() == 1)
        parts.prepend(QLatin1String(kDefaultNamespace));
    if (parts.size() == 2)
        parts.prepend(QLatin1String(kDefaultRegistry));
    parts.append(tag);
    if (parts.size() != 4)
        return {};
    for (const QString &part : std::as_const(parts))
        if (part.isEmpty() || part == QLatin1String(".") || part == QLatin1String("..") || part.contains(u'\\'))
            return {};
    return QDir(modelsDir).filePath(QStringLiteral("manifests/") + parts.join(u'/'));
}

QStringList ModelManifest::blobDigests(const QByteArray &manifest)
{
    const QJsonDocument document = QJsonDocument::fromJson(manifest);
    if (!document.isObject())
        return {};
    const QJsonObject object = document.object();
    QStringList digests;
    const auto add = [&digests](const QJsonValue &entry) {
        const QString digest = normalDigest(entry.toObject().value(QStringLiteral("digest")).toString());
        if (!digest.isEmpty() && !digests.contains(digest))
            digests.append(digest);
    };
    for (const QJsonValue &layer : object.value(QStringLiteral("layers")).toArray())
        add(layer);
    add(object.value(QStringLiteral("config")));
    return digests;
}

QStringList ModelManifest::readBlobDigests(const QString &modelsDir, const QString &modelName)
{
    const QString file = path(modelsDir, modelName);
    if (file.isEmpty())
        return {};
    QFile manifest(file);
    if (!manifest.open(QIODevice::ReadOnly) || manifest.size() > kMaxManifestBytes)
        return {};
    return blobDigests(manifest.read(kMaxManifestBytes));
}
