#include "CachePurger.h"

#include "platform/DeletionGuard.h"
#include "platform/FileTree.h"

#include <QFile>
#include <QFileInfo>

namespace {
std::string local(const QString &path) { return QFile::encodeName(path).toStdString(); }
}

QString CachePurger::refusalLine(const QString &path, const QString &reason)
{
    return QStringLiteral("Refusing to delete %1: %2").arg(path, reason);
}

QStringList CachePurger::purge(const QList<BuildCacheService::PurgeTarget> &targets, const DeletionGuard &guard)
{
    QStringList refusals;
    for (const BuildCacheService::PurgeTarget &target : targets) {
        const QString refusal = target.kind == BuildCacheService::PurgeKind::Contents ? emptyFolder(target.location, guard)
                                                                                    : removeFolder(target.location, guard);
        if (!refusal.isEmpty())
            refusals.append(refusal);
    }
    return refusals;
}

QString CachePurger::emptyFolder(const QString &location, const DeletionGuard &guard)
{
    const DeletionGuard::Verdict verdict = guard.contents(location);
    if (verdict.kind == DeletionGuard::Verdict::Kind::Refused)
        return refusalLine(location, verdict.reason);
    if (!verdict.allowed())
        return {};
    const std::string root = local(verdict.location);
    for (const FileTreeEntry &entry : FileTree::children(root))
        FileTree::removeItem(root + '/' + entry.relativePath);
    return {};
}

QString CachePurger::removeFolder(const QString &location, const DeletionGuard &guard)
{
    if (QFileInfo(location).isSymLink())
        return emptyFolder(location, guard);
    const DeletionGuard::Verdict verdict = guard.folder(location);
    if (verdict.kind == DeletionGuard::Verdict::Kind::Refused)
        return refusalLine(location, verdict.reason);
    if (verdict.allowed())
        FileTree::removeItem(local(verdict.location));
    return {};
}

BuildCacheService::Confinement CachePurger::confine(const QString &path, const QList<BuildCacheService::SDKRoot> &roots,
                                                    const DeletionGuard &guard)
{
    using Verdict = BuildCacheService::Confinement::Verdict;
    QList<DeletionGuard::Root> confinements;
    for (const BuildCacheService::SDKRoot &root : roots)
        confinements.append(DeletionGuard::Root{root.location, root.versionDepth});
    const DeletionGuard::Verdict verdict = guard.item(path, confinements);
    switch (verdict.kind) {
    case DeletionGuard::Verdict::Kind::Allowed:
        return {Verdict::Allowed, verdict.location, {}};
    case DeletionGuard::Verdict::Kind::Nothing:
        return {Verdict::Nothing, {}, {}};
    case DeletionGuard::Verdict::Kind::Refused:
        return {Verdict::Refused, {}, verdict.reason};
    case DeletionGuard::Verdict::Kind::Outside:
        break;
    }
    return {};
}
