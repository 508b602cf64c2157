#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// An Ollama model's manifest: the file under <models>/manifests that names, by digest, the
// blobs a model is made of. Reading one is a small file read; callers on the GUI thread
// should still do it on a worker, beside whatever slower work it guards.
class ModelManifest
{
public:
    static constexpr const char *kDefaultRegistry = "registry.ollama.ai";
    static constexpr const char *kDefaultNamespace = "library";
    static constexpr const char *kDefaultTag = "latest";

    // Where a model's manifest lies below `modelsDir`, as Ollama names it:
    // "llama3:8b" -> manifests/registry.ollama.ai/library/llama3/8b, "user/model" ->
    // manifests/registry.ollama.ai/user/model/latest, "host/user/model:tag" ->
    // manifests/host/user/model/tag. Empty for a name that would leave the folder.
    static QString path(const QString &modelsDir, const QString &modelName);

    // The sha256 digests (lower-case hex, without "sha256:") of every layer and of the
    // config a manifest lists; empty when the text is not a manifest.
    static QStringList blobDigests(const QByteArray &manifest);

    // The digests of `modelName`'s manifest in `modelsDir`; empty when there is none.
    static QStringList readBlobDigests(const QString &modelsDir, const QString &modelName);

    // "sha256:<hex>", "sha256-<hex>" or "<hex>" as lower-case hex; empty for anything else.
    static QString normalDigest(const QString &text);
};
