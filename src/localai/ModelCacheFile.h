#pragma once

#include <QMetaType>
#include <QString>
#include <QMetaType>

// A large model-weight file on disk.
struct ModelCacheFile
{
    Q_GADGET
    Q_PROPERTY(QString id READ id)
    Q_PROPERTY(QString name MEMBER name)
    Q_PROPERTY(qint64 size MEMBER size)
    Q_PROPERTY(QString path MEMBER path)
    Q_PROPERTY(QString type MEMBER type)
    Q_PROPERTY(double sizeInGB READ sizeInGB)

public:
    QString name;                // file name, or a descriptive label in sample rows
    qint64 size = 0;             // bytes
    QString path;                // absolute path; also the identity
    QString type;                // "Ollama" or "HuggingFace"

    QString id() const { return path; }
    double sizeInGB() const { return static_cast<double>(size) / 1024.0 / 1024.0 / 1024.0; }
    bool operator==(const ModelCacheFile &) const = default;
};

Q_DECLARE_METATYPE(ModelCacheFile)
