#include "CachePurger.h"

#include "platform/FileTree.h"
#include "platform/LocalPath.h"

QString CachePurger::refusalLine(const QString &path, const QString &reason)
{
    return QStringLiteral("Refusing to delete %1: %2").arg(path, reason);
}

QStringList CachePurger::purge(const QList<BuildCacheService::PurgeTarget> &targets, const DeletionGuard &guard)
{
    QStringList lines;
    for (const BuildCacheService::PurgeTarget &target : targets)
        lines += target.kind == BuildCacheService::PurgeKind::Contents ? emptyFolder(target.location, guard)
                                                                      : removeFolder(target.location, guard);
    return lines;
}

QStringList CachePurger::emptyFolder(const QString &location, const DeletionGuard &guard)
{
    return carryOut(location, guard.contents(location), guard);
}

QStringList CachePurger::removeFolder(const QString &location, const DeletionGuard &guard)
{
    DeletionGuard::Verdict verdict = guard.folder(location);
    // Deleting the link would free nothing and undo the user's set-up; emptying where it
    // leads is refused for the same reason a linked folder's contents are.
    if (verdict.allowed() && FileTree::isLink(LocalPath::local(verdict.location)))
        verdict = guard.contents(location);
    return carryOut(location, verdict, guard);
}

QStringList CachePurger::removeItem(const QString &path, const QList<BuildCacheService::SDKRoot> &roots,
                                    const DeletionGuard &guard)
{
    return carryOut(path, guard.item(path, confinements(roots)), guard);
}

QStringList CachePurger::carryOut(const QString &path, const DeletionGuard::Verdict &verdict, const DeletionGuard &guard)
{
    if (verdict.kind == DeletionGuard::Verdict::Kind::Refused)
        return {refusalLine(path, verdict.reason)};
    return guard.remove(verdict).failures;
}

QList<DeletionGuard::Root> CachePurger::confinements(const QList<BuildCacheService::SDKRoot> &roots)
{
    QList<DeletionGuard::Root> out;
    for (const BuildCacheService::SDKRoot &root : roots)
        out.append(DeletionGuard::Root{root.location, root.versionDepth});
    return out;
}

BuildCacheService::Confinement CachePurger::confine(const QString &path, const QList<BuildCacheService::SDKRoot> &roots,
                                                    const DeletionGuard &guard)
{
    using Verdict = BuildCacheService::Confinement::Verdict;
    const DeletionGuard::Verdict verdict = guard.item(path, confinements(roots));
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
