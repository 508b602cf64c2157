#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QMetaType>
#include <QString>

#include <optional>

// One model the local model server has on disk, ready to load, with where it would run if
// loaded now (see ModelFit).
struct InstalledModel
{
    Q_GADGET
    Q_PROPERTY(QString id READ id)
    Q_PROPERTY(QString name MEMBER name)
    Q_PROPERTY(qint64 size MEMBER size)
    Q_PROPERTY(QString parameterSize MEMBER parameterSize)
    Q_PROPERTY(QString quantization MEMBER quantization)
    Q_PROPERTY(QString family MEMBER family)
    Q_PROPERTY(QString digest MEMBER digest)
    Q_PROPERTY(QDateTime modifiedAt READ modified)
    Q_PROPERTY(bool remote MEMBER remote)
    Q_PROPERTY(bool loaded MEMBER loaded)
    Q_PROPERTY(QString fit MEMBER fit)

public:
    QString name;                       // the tag, "llama3:8b"; also the identity
    qint64 size = 0;                    // bytes of the model's files
    QString parameterSize;              // "8.0B"; empty when the server did not say
    QString quantization;               // "Q4_K_M"; empty when the server did not say
    QString family;                     // "llama"; empty when the server did not say
    QString digest;                     // the manifest's sha256 (hex)
    std::optional<QDateTime> modifiedAt;
    // A model served from elsewhere (Ollama's cloud models): only a stub is on disk, and
    // this machine's memory is not what it needs.
    bool remote = false;
    bool loaded = false;                // the server holds it in memory now
    // ModelFit's verdict against the memory free now; empty while there is none (no
    // memory figures, a remote model, a model of no size).
    QString fit;

    QString id() const { return name; }
    QDateTime modified() const { return modifiedAt.value_or(QDateTime()); }

    // The models of a GET /api/tags answer body, in the server's order. Null when the body
    // is not the expected JSON: not an object, "models" not an array, an entry without a
    // text "name" and a whole, non-negative "size", a detail or "digest" of the wrong type.
    // An absent or empty "models" is an empty list; an unreadable "modified_at" is no time.
    static std::optional<QList<InstalledModel>> decodeTags(const QByteArray &body);

    // The demo's installed models, modified before `now`: sized so the demo's sample
    // machine (DemoWorkspace::sampleFreeMemory) gives each of the four verdicts.
    static QList<InstalledModel> samples(const QDateTime &now);

    bool operator==(const InstalledModel &) const = default;
};

Q_DECLARE_METATYPE(InstalledModel)
