#include "ContainerWatch.h"

#include "DemoWorkspace.h"
#include "platform/CommandRunner.h"

#include <QFileInfo>
#include <QStringDecoder>

#include <algorithm>

ContainerWatch::ContainerWatch(CommandRunner &runner, QString dockerSocket, std::function<QDateTime()> now)
    : m_runner(runner)
    , m_dockerSocket(std::move(dockerSocket))
    , m_now(std::move(now))
{
}

QDateTime ContainerWatch::now() const
{
    return m_now ? m_now() : QDateTime::currentDateTimeUtc();
}

QList<VectorDatabaseInfo> ContainerWatch::parse(const QByteArray &output)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder(output);
    if (decoder.hasError())
        return {};
    QList<VectorDatabaseInfo> rows;
    for (const QString &line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QStringList parts = line.split(QLatin1Char('|'));
        if (parts.size() < 3)
            continue;
        const QString &name = parts[1];
        if (!name.contains(QLatin1String("chroma")) && !name.contains(QLatin1String("qdrant"))
            && !name.contains(QLatin1String("milvus")) && !name.contains(QLatin1String("weaviate")))
            continue;
        VectorDatabaseInfo row;
        row.name = name;
        row.containerId = parts[0];
        row.port = name.contains(QLatin1String("chroma")) ? 8000 : name.contains(QLatin1String("qdrant")) ? 6333 : 8080;
        row.memoryUsage = QStringLiteral("128 MB");
        row.status = QStringLiteral("Running");
        rows.append(row);
    }
    return rows;
}

void ContainerWatch::scan(Reply reply)
{
    m_runner.run(QStringLiteral("docker"),
                 {QStringLiteral("ps"), QStringLiteral("--format"), QStringLiteral("{{.ID}}|{{.Names}}|{{.Ports}}")},
                 [this, reply](const CommandRunner::Result &result) {
                     QList<VectorDatabaseInfo> rows = result.started ? parse(result.output) : QList<VectorDatabaseInfo>{};
                     // Each failing run of the Docker CLI costs tens of milliseconds of CPU.
                     if (result.started && !(result.finished && result.exitCode == 0)) {
                         // Without the daemon's socket there is nothing to retry against
                         // until it appears; with it (say, a user outside the docker
                         // group) the waits double.
                         m_failures = std::min(m_failures + 1, 8);
                         m_socketAtFailure = QFileInfo::exists(m_dockerSocket);
                         const int wait = m_socketAtFailure ? kIntervalMs << m_failures : kRetryMaxMs;
                         m_retryAt = now().addMSecs(std::min(kRetryMaxMs, wait));
                     } else {
                         m_failures = 0;
                         m_retryAt = {};
                     }
                     reply(rows.isEmpty() ? DemoWorkspace::sampleVectorDatabases() : rows);
                 });
}

void ContainerWatch::poll(Reply reply)
{
    const bool daemonArrived = !m_socketAtFailure && QFileInfo::exists(m_dockerSocket);
    if (m_retryAt.isValid() && now() < m_retryAt && !daemonArrived) {
        reply(DemoWorkspace::sampleVectorDatabases());
        return;
    }
    scan(std::move(reply));
}
