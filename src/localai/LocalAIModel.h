#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QJsonObject>
#include <QList>
#include <QMetaType>
#include <QString>

#include <optional>

// One model the local model server has loaded.
struct LocalAIModel
{
    Q_GADGET
    Q_PROPERTY(QString id READ id)
    Q_PROPERTY(QString name MEMBER name)
    Q_PROPERTY(qint64 size MEMBER size)
    Q_PROPERTY(QString parameterSize MEMBER parameterSize)
    Q_PROPERTY(QString quantization MEMBER quantization)
    Q_PROPERTY(QString format MEMBER format)
    Q_PROPERTY(double sizeInGB READ sizeInGB)
    Q_PROPERTY(QDateTime expiresAt READ expiry)
    Q_PROPERTY(qint64 sizeVram MEMBER sizeVram)
    Q_PROPERTY(qint64 contextLength MEMBER contextLength)
    Q_PROPERTY(QString residency READ residency)
    Q_PROPERTY(QString digest MEMBER digest)

public:
    QString name;                       // the tag, "llama3:8b"; also the identity
    qint64 size = 0;                    // bytes
    QString parameterSize = QStringLiteral("Unknown");
    QString quantization = QStringLiteral("Unknown");
    QString format = QStringLiteral("gguf");
    std::optional<QDateTime> expiresAt; // when the server will unload it
    qint64 sizeVram = 0;                // bytes of it in the GPU's memory
    qint64 contextLength = 0;           // tokens; 0 when the server did not say
    // The manifest's sha256 as the server gives it (hex); empty when it did not say. It
    // leads to the blobs the model was loaded from, which must not be deleted under it.
    QString digest;

    QString id() const { return name; }
    // When the server will unload it; a null time when it did not say.
    QDateTime expiry() const { return expiresAt.value_or(QDateTime()); }
    double sizeInGB() const { return static_cast<double>(size) / 1024.0 / 1024.0 / 1024.0; }
    // Where the weights live, as Ollama's own client says it: "100% GPU", "100% CPU", or
    // the split, "48% / 52% CPU/GPU"; empty for a model of no size.
    QString residency() const;
    // The expiry as Ollama's client shows it, from `now`: "Forever" for a keep-alive
    // beyond 20 years (a negative one), "Stopping…" once passed, else the time left
    // ("in 4 minutes"); empty when the server gave no expiry.
    static QString expiryText(const QDateTime &expiresAt, const QDateTime &now);

    // The two sample models, their expiries counted from `now`.
    static QList<LocalAIModel> samples(const QDateTime &now);

    // The models of a GET /api/ps answer body. Null when the body is not the expected
    // JSON (not an object, "models" not an array, an entry without a text "name" and an
    // integer "size", a detail or "digest" of the wrong type); an absent or empty "models" decodes
    // to an empty list.
    static std::optional<QList<LocalAIModel>> decodeListing(const QByteArray &body);

    // An ISO 8601 internet time stamp, with or without fractional seconds, with a zone
    // offset or "Z"; null when the text is neither.
    static std::optional<QDateTime> parseTimestamp(const QString &text);

    QJsonObject toJson() const;
    bool operator==(const LocalAIModel &) const = default;
};

Q_DECLARE_METATYPE(LocalAIModel)
