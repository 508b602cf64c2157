#include "SDKRuntimeAuditor.h"

#include "platform/FileTree.h"
#include "platform/LocalPath.h"

#include <QDir>
#include <QFile>

#include <algorithm>

namespace {
std::string local(const QString &path) { return LocalPath::local(path); }
QString fromLocal(const std::string &path) { return LocalPath::decode(path); }
}

QList<SDKVersionInfo> SDKRuntimeAuditor::find(const QList<BuildCacheService::SDKRoot> &roots, const QDateTime &now)
{
    // Listings come sorted by name, so equal dates give the same order on every pass.
    const auto visibleChildren = [](const QString &folder) {
        std::vector<FileTreeEntry> entries = FileTree::children(local(folder));
        std::erase_if(entries, [](const FileTreeEntry &e) { return e.relativePath.front() == '.'; });
        std::sort(entries.begin(), entries.end(),
                  [](const FileTreeEntry &a, const FileTreeEntry &b) { return a.relativePath < b.relativePath; });
        return entries;
    };
    const auto record = [&](const QString &manager, const QString &tool, const QString &folder, const FileTreeEntry &entry) {
        SDKVersionInfo info;
        info.manager = manager;
        info.name = tool;
        info.version = fromLocal(entry.relativePath);
        info.path = QDir(folder).filePath(info.version);
        // A link to another version costs nothing of its own.
        info.sizeBytes = entry.kind == FileTreeEntry::Kind::Symlink
            ? 0 : static_cast<qint64>(FileTree::visibleSize(local(info.path)));
        info.lastAccessDate = entry.modified > 0 ? QDateTime::fromSecsSinceEpoch(entry.modified) : now;
        return info;
    };

    QList<SDKVersionInfo> found;
    for (const BuildCacheService::SDKRoot &root : roots) {
        if (root.versionDepth == 1) {
            for (const FileTreeEntry &entry : visibleChildren(root.location))
                if (entry.relativePath.front() == 'v')
                    found.append(record(root.manager, QStringLiteral("node"), root.location, entry));
            continue;
        }
        for (const FileTreeEntry &tool : visibleChildren(root.location)) {
            const QString toolName = fromLocal(tool.relativePath);
            const QString toolFolder = QDir(root.location).filePath(toolName);
            for (const FileTreeEntry &entry : visibleChildren(toolFolder))
                found.append(record(root.manager, toolName, toolFolder, entry));
        }
    }
    std::stable_sort(found.begin(), found.end(), [](const SDKVersionInfo &a, const SDKVersionInfo &b) {
        return a.lastAccessDate < b.lastAccessDate;
    });
    return found;
}

QList<SDKVersionInfo> SDKRuntimeAuditor::samples(const QDateTime &now)
{
    const auto row = [&](const char *manager, const char *name, const char *version, const char *path, qint64 size,
                         qint64 ageSeconds) {
        return SDKVersionInfo{QLatin1String(manager), QLatin1String(name), QLatin1String(version), QLatin1String(path),
                              size, now.addSecs(-ageSeconds)};
    };
    return {row("nvm", "node", "v18.16.0", "~/.nvm/versions/node/v18.16.0", 188'743'680, 3'888'000),
            row("nvm", "node", "v20.9.0", "~/.nvm/versions/node/v20.9.0", 199'229'440, 172'800),
            row("mise", "python", "3.11.4", "~/.local/share/mise/installs/python/3.11.4", 314'572'800, 7'776'000),
            row("asdf", "golang", "1.20.5", "~/.asdf/installs/golang/1.20.5", 419'430'400, 10'368'000)};
}
