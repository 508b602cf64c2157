#include "MaintenanceActions.h"

#include "platform/DeletionGuard.h"
#include "platform/LocalPath.h"
#include "platform/MemoryPurger.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QtConcurrent/QtConcurrentRun>

#include <charconv>
#include <cmath>
#include <cstdio>

namespace {
double toGB(std::uint64_t bytes)
{
    return static_cast<double>(bytes) / 1073741824.0;
}
}

MaintenanceActions::MaintenanceActions(PurgeTool tool, JunkRoots junkRoots, AvailableMemory available, Sinks sinks)
    : m_tool(std::move(tool))
    , m_junkRoots(std::move(junkRoots))
    , m_available(std::move(available))
    , m_sinks(std::move(sinks))
{
    QObject::connect(&m_junkWatcher, &QFutureWatcher<JunkOutcome>::finished, &m_junkWatcher, [this] {
        JunkOutcome outcome = m_junkWatcher.result();
        const double found = toGB(outcome.scan.bytes);
        m_lastJunkScan = std::move(outcome.scan);
        m_sinks.junkDone(outcome.cleaned, toGB(outcome.freed), found);
    });
}

MaintenanceActions::~MaintenanceActions()
{
    // The worker only touches the file system, but its result lands on this object.
    m_junkWatcher.waitForFinished();
}

void MaintenanceActions::purgeMemory()
{
    if (!m_memoryPurger) {
        m_memoryPurger = std::make_unique<MemoryPurger>(m_tool.helper, m_tool.pkexec,
                                                        m_tool.elevate.value_or(MemoryPurger::defaultElevate()));
        QObject::connect(m_memoryPurger.get(), &MemoryPurger::finished, m_memoryPurger.get(),
                         [this](MemoryPurger::Outcome outcome, const QString &message) {
            const bool done = outcome == MemoryPurger::Outcome::Done;
            const std::uint64_t after = m_available();
            const std::uint64_t gained = after > m_availableBeforePurge ? after - m_availableBeforePurge : 0;
            m_sinks.memoryPurged(done, done ? toGB(gained) : 0.0, message);
        });
    }
    m_availableBeforePurge = m_available();
    m_memoryPurger->start();
}

void MaintenanceActions::scanJunk()
{
    if (junkBusy())
        return;
    const JunkScanner scanner(m_junkRoots);
    m_junkWatcher.setFuture(QtConcurrent::run([scanner] { return JunkOutcome{false, 0, scanner.scan()}; }));
}

void MaintenanceActions::cleanJunk()
{
    if (junkBusy() || !m_lastJunkScan)
        return;
    const JunkScanner scanner(m_junkRoots);
    m_junkWatcher.setFuture(QtConcurrent::run([scanner, found = *m_lastJunkScan] {
        const DeletionGuard guard(LocalPath::decode(scanner.roots().home));
        const std::uint64_t freed = JunkScanner::clean(found, guard);
        return JunkOutcome{true, freed, scanner.scan()};
    }));
}

QString MaintenanceActions::shortestDecimal(double value)
{
    if (std::isnan(value))
        return QStringLiteral("nan");
    if (std::isinf(value))
        return value > 0 ? QStringLiteral("inf") : QStringLiteral("-inf");
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    QString text = QString::fromLatin1(buffer, result.ptr - buffer);
    if (!text.contains(u'.') && !text.contains(u'e'))
        text += QStringLiteral(".0");
    return text;
}

QString MaintenanceActions::historyFileName(const QDateTime &now)
{
    return QStringLiteral("Quillmoor_History_") + shortestDecimal(now.toMSecsSinceEpoch() / 1000.0) + QStringLiteral(".csv");
}

QByteArray MaintenanceActions::historyCsv(const QList<double> &history, const QDateTime &now)
{
    QString text = QStringLiteral("Timestamp,CPUUsage%\n");
    const QDateTime utc = now.toUTC();
    const qsizetype count = history.size();
    for (qsizetype i = 0; i < count; ++i) {
        const QDateTime stamp = utc.addSecs(static_cast<qint64>(i) - count);
        text += stamp.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) + QStringLiteral(" +0000,")
              + shortestDecimal(history[i]) + u'\n';
    }
    return text.toUtf8();
}

QString MaintenanceActions::exportHistory(const QList<double> &history)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    // An unusable temporary folder comes back empty, which must not mean the current one.
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::TempLocation);
    if (folder.isEmpty() || !QFileInfo(folder).isDir()) {
        std::printf("Failed to write CSV: no temporary folder\n");
        std::fflush(stdout);
        return {};
    }
    const QString path = QDir(folder).filePath(historyFileName(now));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(historyCsv(history, now)) < 0 || !file.commit()) {
        std::printf("Failed to write CSV: %s\n", file.errorString().toLocal8Bit().constData());
        std::fflush(stdout);
        return {};
    }
    return path;
}
