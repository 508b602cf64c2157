#pragma once

#include "BuildCacheService.h"

// The runtimes nvm, mise and asdf installed: one record per version folder, with its size
// and when it was last changed, oldest first.
class SDKRuntimeAuditor
{
public:
    // The runtimes found under `roots`; equal dates keep the listing order.
    static QList<SDKVersionInfo> find(const QList<BuildCacheService::SDKRoot> &roots, const QDateTime &now);
    // What the demo shows, aged relative to `now`.
    static QList<SDKVersionInfo> samples(const QDateTime &now);
};
