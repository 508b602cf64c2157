#include "DemoWorkspace.h"

namespace {
const QString kRunning = QStringLiteral("Running");
}

DemoWorkspace::DemoWorkspace(std::function<QDateTime()> now)
    : m_now(std::move(now))
{
}

void DemoWorkspace::listModels(const QList<LocalAIModel> &shown, Reply<Listing> reply)
{
    const QDateTime now = m_now ? m_now() : QDateTime::currentDateTimeUtc();
    if (shown.isEmpty()) {
        reply(Listing{OllamaStatus::Active, LocalAIModel::samples(now), {}});
        return;
    }
    // Sample models unload themselves when their keep-alive runs out, as Ollama's do.
    QList<LocalAIModel> kept;
    for (const LocalAIModel &model : shown)
        if (!model.expiresAt || *model.expiresAt > now)
            kept.append(model);
    reply(Listing{kept.isEmpty() ? OllamaStatus::Idle : OllamaStatus::Active, kept, {}});
}

void DemoWorkspace::listInstalled(Reply<Installed> reply)
{
    reply(Installed{InstalledModel::samples(m_now ? m_now() : QDateTime::currentDateTimeUtc()), {}});
}

FreeMemory DemoWorkspace::sampleFreeMemory()
{
    constexpr qint64 gib = 1024LL * 1024 * 1024;
    return FreeMemory{4 * gib, 8 * gib, 48 * gib, 64 * gib};
}

void DemoWorkspace::ejectModel(const QString &, Reply<After> reply)
{
    reply(After::RemoveRow);
}

void DemoWorkspace::stopContainer(const QString &, Reply<After> reply)
{
    reply(After::RemoveRow);
}

void DemoWorkspace::deleteModelFile(const QString &, const QList<LocalAIModel> &, Reply<After> reply)
{
    reply(After::RemoveRow);
}

std::optional<QList<OrphanedCompanionInfo>> DemoWorkspace::companions(const QList<OrphanedCompanionInfo> &shown)
{
    if (shown.isEmpty())
        return sampleCompanions();
    return std::nullopt;
}

void DemoWorkspace::scanPorts(const QList<LocalPortInfo> &shown, Reply<std::optional<QList<LocalPortInfo>>> reply)
{
    reply(shown.isEmpty() ? std::optional(samplePorts()) : std::nullopt);
}

void DemoWorkspace::scanModelFiles(const QList<ModelCacheFile> &shown, Reply<std::optional<QList<ModelCacheFile>>> reply)
{
    reply(shown.isEmpty() ? std::optional(sampleModelFiles()) : std::nullopt);
}

QList<VectorDatabaseInfo> DemoWorkspace::sampleVectorDatabases()
{
    return {VectorDatabaseInfo{QStringLiteral("chroma-local"), 8000, QStringLiteral("184 MB"), QStringLiteral("dc84e27f9b8c"), kRunning},
            VectorDatabaseInfo{QStringLiteral("qdrant-local"), 6333, QStringLiteral("242 MB"), QStringLiteral("9ae815f212bc"), kRunning}};
}

QList<OrphanedCompanionInfo> DemoWorkspace::sampleCompanions()
{
    return {OrphanedCompanionInfo{QStringLiteral("continue-agent"), 82194, QStringLiteral("142 MB"), QStringLiteral("VS Code (Closed)")},
            OrphanedCompanionInfo{QStringLiteral("copilot-agent"), 82955, QStringLiteral("98 MB"), QStringLiteral("Cursor (Closed)")}};
}

QList<LocalPortInfo> DemoWorkspace::samplePorts()
{
    return {LocalPortInfo{11434, QStringLiteral("ollama"), 90281, {}},
            LocalPortInfo{5432, QStringLiteral("postgres"), 8812, {}},
            LocalPortInfo{6379, QStringLiteral("redis-server"), 8815, {}},
            LocalPortInfo{3000, QStringLiteral("node (next-dev)"), 82918, {}},
            LocalPortInfo{8000, QStringLiteral("uvicorn (python)"), 82955, {}}};
}

QList<ModelCacheFile> DemoWorkspace::sampleModelFiles()
{
    return {ModelCacheFile{QStringLiteral("deepseek-r1-distill-qwen-7b.gguf"), 4724464640,
                           QStringLiteral("/Users/tamsel/.ollama/models/blobs/sha256:7bde42a"), QStringLiteral("Ollama")},
            ModelCacheFile{QStringLiteral("llama3-8b-instruct.gguf"), 4661224816,
                           QStringLiteral("/Users/tamsel/.ollama/models/blobs/sha256:3a11f2c"), QStringLiteral("Ollama")},
            ModelCacheFile{QStringLiteral("config.json (Qwen2.5-7B-Instruct)"), 1048576,
                           QStringLiteral("/Users/tamsel/.cache/huggingface/hub/models--Qwen--Qwen2.5-7B/snapshots/1a2b3c/config.json"),
                           QStringLiteral("HuggingFace")},
            ModelCacheFile{QStringLiteral("model.safetensors.index.json"), 2097152,
                           QStringLiteral("/Users/tamsel/.cache/huggingface/hub/models--Qwen--Qwen2.5-7B/snapshots/1a2b3c/model.safetensors.index.json"),
                           QStringLiteral("HuggingFace")}};
}
