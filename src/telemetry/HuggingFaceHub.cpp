#include "HuggingFaceHub.h"

#include "platform/DeletionGuard.h"
#include "platform/LocalPath.h"
#include "platform/FileTree.h"
#include "platform/UserPaths.h"

#include <QFile>
#include <QtConcurrent/QtConcurrentRun>

#include <cstdio>

namespace {
constexpr qint64 kWalkIntervalMs = 10000;

// The rule every cache on the cache screens is sized by, the hub's row among them, so the
// two figures for the hub agree.
std::uint64_t measure(const std::string &hub)
{
    return FileTree::visibleSize(hub);
}

double toGB(std::uint64_t bytes)
{
    return static_cast<double>(bytes) / 1073741824.0;
}
}

HuggingFaceHub::HuggingFaceHub(QString homePath, Sinks sinks)
    : m_homePath(std::move(homePath))
    , m_sinks(std::move(sinks))
{
    QObject::connect(&m_sizeWatcher, &QFutureWatcher<std::uint64_t>::finished, &m_sizeWatcher, [this] {
        // A walk that began before a purge measured what the purge has since deleted.
        if (m_walkGeneration != m_generation)
            return;
        m_sinceWalk.start();
        m_sinks.measured(shown(toGB(m_sizeWatcher.result())));
    });
    QObject::connect(&m_purgeWatcher, &QFutureWatcher<PurgeOutcome>::finished, &m_purgeWatcher, [this] {
        const PurgeOutcome outcome = m_purgeWatcher.result();
        for (const QString &line : outcome.failures)
            std::printf("%s\n", LocalPath::encode(line).constData());
        std::fflush(stdout);
        m_sinceWalk.start();
        m_sinks.purged(toGB(outcome.freed), shown(toGB(outcome.remaining)));
    });
}

HuggingFaceHub::~HuggingFaceHub()
{
    // The workers only touch the file system, but their results land on this object.
    m_sizeWatcher.waitForFinished();
    m_purgeWatcher.waitForFinished();
}

QString HuggingFaceHub::pathFor(const QString &homePath, const std::function<QString(const char *)> &environment)
{
    return UserPaths(homePath, environment).huggingFaceHub();
}

void HuggingFaceHub::poll()
{
    // The walk can take a while over a large hub, so it is never repeated every tick.
    if (m_sinceWalk.isValid() && m_sinceWalk.elapsed() < kWalkIntervalMs)
        return;
    refresh();
}

void HuggingFaceHub::refresh()
{
    if (m_sizeWatcher.isRunning() || m_purgeWatcher.isRunning())
        return;
    const std::string hub = LocalPath::local(path());
    // Stamped at the start too, so a walk slower than a tick is not queued again.
    m_sinceWalk.start();
    m_walkGeneration = m_generation;
    m_sizeWatcher.setFuture(QtConcurrent::run([hub] { return measure(hub); }));
}

bool HuggingFaceHub::purge()
{
    if (m_purgeWatcher.isRunning())
        return false;
    ++m_generation;
    m_purgeWatcher.setFuture(QtConcurrent::run([hub = path(), home = m_homePath] {
        PurgeOutcome outcome;
        outcome.hub = hub;
        const std::string local = LocalPath::local(hub);
        // A hub variable naming the home folder, or a folder above it, must not empty it.
        const DeletionGuard::Verdict verdict = DeletionGuard(home).contents(hub);
        // What the purge gave back is how much less the hub measures afterwards, by the rule
        // of the figure shown: a file that could not be deleted, or one still named outside
        // the hub, gives nothing back, and "freed" matches the drop the user sees.
        const std::uint64_t before = verdict.allowed() ? measure(local) : 0;
        if (verdict.allowed())
            outcome.failures = DeletionGuard(home).remove(verdict).failures;
        else if (verdict.kind == DeletionGuard::Verdict::Kind::Refused)
            outcome.failures.append(
                QStringLiteral("Refusing to purge the Hugging Face hub %1: %2").arg(hub, verdict.reason));
        outcome.remaining = measure(local);
        outcome.freed = before > outcome.remaining ? before - outcome.remaining : 0;
        return outcome;
    }));
    return true;
}

double HuggingFaceHub::setShowsDemoFigure(bool shown)
{
    m_showsDemoFigure = shown;
    return this->shown(m_measuredGB);
}

double HuggingFaceHub::shown(double measuredGB)
{
    m_measuredGB = measuredGB;
    return measuredGB <= 0 && m_showsDemoFigure ? kDemoFigureGB : measuredGB;
}
