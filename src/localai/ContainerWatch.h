#pragma once

#include "VectorDatabaseInfo.h"

#include <QDateTime>
#include <QList>
#include <QString>

#include <functional>

class CommandRunner;

// The vector-database containers Docker runs, read with its command-line tool. While the
// tool keeps failing it is run again only after a wait (see LocalAIService::pollVectorDatabases),
// and a list that comes back empty shows the sample rows.
class ContainerWatch
{
public:
    using Reply = std::function<void(QList<VectorDatabaseInfo>)>;

    static constexpr int kIntervalMs = 2000;
    static constexpr int kRetryMaxMs = 300000;

    // `now`: unset, the clock.
    ContainerWatch(CommandRunner &runner, QString dockerSocket, std::function<QDateTime()> now = {});

    // Runs the tool now.
    void scan(Reply reply);
    // Runs it unless a failure's wait is still on and the daemon has not appeared since.
    void poll(Reply reply);

    static QList<VectorDatabaseInfo> parse(const QByteArray &output);

private:
    QDateTime now() const;

    CommandRunner &m_runner;
    QString m_dockerSocket;
    std::function<QDateTime()> m_now;
    int m_failures = 0;
    QDateTime m_retryAt;
    bool m_socketAtFailure = false;
};
