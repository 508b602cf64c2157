#pragma once

#include "BuildCacheService.h"

class UserPaths;

// Where each cache lives for this user: the table of rows the service measures and purges,
// and the install folders of the runtime version managers. Read from the user's folders
// and the tools' own variables; nothing on disk is touched.
class CacheTable
{
public:
    static QList<BuildCacheService::CacheRow> rows(const UserPaths &paths);
    static QList<BuildCacheService::SDKRoot> sdkRoots(const UserPaths &paths);
};
