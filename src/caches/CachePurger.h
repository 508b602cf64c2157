#pragma once

#include "BuildCacheService.h"

#include "platform/DeletionGuard.h"

// The deletions the cache screen starts, each cleared by the deletion guard first and done
// through it. They run on a worker thread; each returns the lines saying what was refused
// or left behind, if anything.
class CachePurger
{
public:
    static QString refusalLine(const QString &path, const QString &reason);

    // Deletes what a row's purge names.
    static QStringList purge(const QList<BuildCacheService::PurgeTarget> &targets, const DeletionGuard &guard);
    // Empties the folder at `location`, which stays. A link there is refused: the folder it
    // leads to may hold more than the cache.
    static QStringList emptyFolder(const QString &location, const DeletionGuard &guard);
    // Deletes the folder at `location`. A link there is refused as emptyFolder refuses it,
    // and kept, as the user set it up.
    static QStringList removeFolder(const QString &location, const DeletionGuard &guard);
    // Judges `path` inside `roots` (see confine) and deletes it, in one step.
    static QStringList removeItem(const QString &path, const QList<BuildCacheService::SDKRoot> &roots,
                                  const DeletionGuard &guard);

    // Where deleting `path` inside one of `roots` may act (see BuildCacheService::confine);
    // the first root that holds it judges it.
    static BuildCacheService::Confinement confine(const QString &path, const QList<BuildCacheService::SDKRoot> &roots,
                                                  const DeletionGuard &guard);

private:
    static QStringList carryOut(const QString &path, const DeletionGuard::Verdict &verdict, const DeletionGuard &guard);
    static QList<DeletionGuard::Root> confinements(const QList<BuildCacheService::SDKRoot> &roots);
};
