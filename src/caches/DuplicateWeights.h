#pragma once

#include <QMetaType>
#include <QString>

// One model-weight file stored twice: the copy at `replacedPath` would become another name
// for the file at `keptPath`. The digest is the one both file names carry; the contents are
// compared again before anything is linked.
struct DuplicateWeights
{
    Q_GADGET
    Q_PROPERTY(QString id READ id)
    Q_PROPERTY(QString keptPath MEMBER keptPath)
    Q_PROPERTY(QString replacedPath MEMBER replacedPath)
    Q_PROPERTY(QString keptStore MEMBER keptStore)
    Q_PROPERTY(QString replacedStore MEMBER replacedStore)
    Q_PROPERTY(QString digest MEMBER digest)
    Q_PROPERTY(qint64 size MEMBER size)
    Q_PROPERTY(qint64 reclaimableBytes MEMBER reclaimableBytes)
    Q_PROPERTY(double sizeInGB READ sizeInGB)

public:
    QString keptPath;
    QString replacedPath;        // also the identity: each copy is replaced at most once
    QString keptStore;           // "Ollama" or "HuggingFace"
    QString replacedStore;
    QString digest;              // sha256, lower-case hex
    qint64 size = 0;             // bytes of the file
    // Blocks on disk that linking this copy gives back: 0 when another name outside the
    // stores keeps the copy's inode alive, or when an earlier row already counts them.
    qint64 reclaimableBytes = 0;

    QString id() const { return replacedPath; }
    double sizeInGB() const { return static_cast<double>(size) / 1024.0 / 1024.0 / 1024.0; }
    bool operator==(const DuplicateWeights &) const = default;
};

Q_DECLARE_METATYPE(DuplicateWeights)
