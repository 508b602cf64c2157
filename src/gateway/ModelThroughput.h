#pragma once

#include "GenerationFigures.h"

#include <QMetaType>
#include <QString>

#include <optional>

// What the proxy saw one model do: its generate and chat requests, the tokens Ollama read
// and wrote for them and the time it says it took, in nanoseconds as it reports them.
// Totals only grow, so a scraper's rate() of them gives tokens per second.
struct ModelThroughput
{
    Q_GADGET
    Q_PROPERTY(QString id READ id)
    Q_PROPERTY(QString model MEMBER model)
    Q_PROPERTY(qint64 requests MEMBER requests)
    Q_PROPERTY(qint64 meteredRequests MEMBER meteredRequests)
    Q_PROPERTY(qint64 promptTokens MEMBER promptTokens)
    Q_PROPERTY(qint64 generatedTokens MEMBER generatedTokens)
    Q_PROPERTY(double loadSeconds READ loadSeconds)
    Q_PROPERTY(double promptEvalSeconds READ promptEvalSeconds)
    Q_PROPERTY(double generationSeconds READ generationSeconds)
    Q_PROPERTY(double lastLoadSeconds READ lastLoadSeconds)
    Q_PROPERTY(double tokensPerSecond READ tokensPerSecond)
    Q_PROPERTY(double lastTokensPerSecond READ lastTokensPerSecond)
    Q_PROPERTY(double promptTokensPerSecond READ promptTokensPerSecond)

public:
    QString model;
    qint64 requests = 0;          // replies that ended, figures or not
    qint64 meteredRequests = 0;   // of which gave their figures
    qint64 promptTokens = 0;
    qint64 generatedTokens = 0;
    qint64 loadNs = 0;
    qint64 promptEvalNs = 0;
    qint64 evalNs = 0;
    // The latest reply with figures; 0 until one came.
    qint64 lastLoadNs = 0;
    qint64 lastGeneratedTokens = 0;
    qint64 lastEvalNs = 0;

    QString id() const { return model; }
    double loadSeconds() const { return double(loadNs) / 1e9; }
    double promptEvalSeconds() const { return double(promptEvalNs) / 1e9; }
    double generationSeconds() const { return double(evalNs) / 1e9; }
    double lastLoadSeconds() const { return double(lastLoadNs) / 1e9; }
    // Over every metered reply; 0 before any generation time was reported.
    double tokensPerSecond() const { return evalNs > 0 ? double(generatedTokens) * 1e9 / double(evalNs) : 0; }
    double lastTokensPerSecond() const { return lastEvalNs > 0 ? double(lastGeneratedTokens) * 1e9 / double(lastEvalNs) : 0; }
    double promptTokensPerSecond() const { return promptEvalNs > 0 ? double(promptTokens) * 1e9 / double(promptEvalNs) : 0; }

    // One reply ended; `figures` when it carried them.
    void add(const std::optional<GenerationFigures> &figures)
    {
        ++requests;
        if (!figures)
            return;
        ++meteredRequests;
        promptTokens += qint64(figures->promptTokens);
        generatedTokens += qint64(figures->generatedTokens);
        loadNs += qint64(figures->loadNs);
        promptEvalNs += qint64(figures->promptEvalNs);
        evalNs += qint64(figures->evalNs);
        lastLoadNs = qint64(figures->loadNs);
        lastGeneratedTokens = qint64(figures->generatedTokens);
        lastEvalNs = qint64(figures->evalNs);
    }
    // Adds what was seen since `this` was last told, `later`.
    void merge(const ModelThroughput &later)
    {
        requests += later.requests;
        meteredRequests += later.meteredRequests;
        promptTokens += later.promptTokens;
        generatedTokens += later.generatedTokens;
        loadNs += later.loadNs;
        promptEvalNs += later.promptEvalNs;
        evalNs += later.evalNs;
        if (later.meteredRequests > 0) {
            lastLoadNs = later.lastLoadNs;
            lastGeneratedTokens = later.lastGeneratedTokens;
            lastEvalNs = later.lastEvalNs;
        }
    }

    bool operator==(const ModelThroughput &) const = default;
};

Q_DECLARE_METATYPE(ModelThroughput)
