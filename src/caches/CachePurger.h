#pragma once

#include "BuildCacheService.h"

class DeletionGuard;

// The deletions the cache screen starts, each cleared by the deletion guard first. They run
// on a worker thread; each returns the lines saying what was refused, if anything.
class CachePurger
{
public:
    static QString refusalLine(const QString &path, const QString &reason);

    // Deletes what a row's purge names.
    static QStringList purge(const QList<BuildCacheService::PurgeTarget> &targets, const DeletionGuard &guard);
    // Empties the folder at `location`, reached through a link if it is one; the folder stays.
    static QString emptyFolder(const QString &location, const DeletionGuard &guard);
    // Deletes the folder at `location`. A cache folder that is a link to another disk is
    // emptied where it lives and the link kept, as the user set it up.
    static QString removeFolder(const QString &location, const DeletionGuard &guard);

    // Where deleting `path` inside one of `roots` may act (see BuildCacheService::confine);
    // the first root that holds it judges it.
    static BuildCacheService::Confinement confine(const QString &path, const QList<BuildCacheService::SDKRoot> &roots,
                                                  const DeletionGuard &guard);
};
