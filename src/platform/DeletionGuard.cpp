#include "DeletionGuard.h"

#include "FileTree.h"
#include "LocalPath.h"
#include "TreeRemover.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <climits>
#include <cstdlib>

#include <sys/stat.h>
#include <unistd.h>

namespace {
using Verdict = DeletionGuard::Verdict;
using Kind = Verdict::Kind;

std::string local(const QString &path) { return LocalPath::local(path); }
QString fromLocal(const std::string &path) { return LocalPath::decode(path); }

// Every link and "." or ".." resolved; empty when the path leads nowhere.
QString canonical(const QString &path)
{
    char resolved[PATH_MAX];
    return ::realpath(local(path).c_str(), resolved) ? fromLocal(resolved) : QString();
}

bool isLink(const QString &path) { return FileTree::isLink(local(path)); }
bool isFolder(const QString &path) { return FileTree::isDirectory(local(path)); }

QString below(const QString &location, const QString &folder)
{
    return location.mid(folder.size() + (folder.endsWith(QLatin1Char('/')) ? 0 : 1));
}

Verdict refuse(const QString &reason) { return Verdict{Kind::Refused, {}, reason, {}, {}}; }

bool isThere(const QString &location)
{
    struct stat st {};
    return ::lstat(local(location).c_str(), &st) == 0;
}

// "", "." or "..": a path ending so names its folder or one above, never an item of its own.
bool namesNoItem(const QString &path)
{
    const QString name = QFileInfo(path).fileName();
    return name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..");
}
}

DeletionGuard::DeletionGuard(const QString &home)
{
    const QString given = home.isEmpty() ? QDir::homePath() : home;
    const QString resolved = canonical(given);
    m_home = resolved.isEmpty() ? QDir::cleanPath(given) : resolved;
}

bool DeletionGuard::isStrictlyInside(const QString &location, const QString &root)
{
    const QString prefix = root.endsWith(QLatin1Char('/')) ? root : root + QLatin1Char('/');
    return location.size() > prefix.size() && location.startsWith(prefix);
}

Verdict DeletionGuard::protectHome(Verdict verdict) const
{
    if (verdict.kind != Kind::Allowed && verdict.kind != Kind::Nothing)
        return verdict;
    const QString &location = verdict.location;
    if (location == QLatin1String("/") || location == m_home || isStrictlyInside(m_home, location))
        return refuse(QStringLiteral("it is the home folder or a folder above it"));
    return verdict;
}

Verdict DeletionGuard::item(const QString &path, const QList<Root> &roots, Links links) const
{
    if (!QDir::isAbsolutePath(path))
        return refuse(QStringLiteral("it is not an absolute path"));
    // Each root resolved, beside the path it was given as: the deletion opens that one, so
    // a link there is seen and refused then.
    QList<std::pair<Root, QString>> resolvedRoots;
    for (const Root &root : roots)
        if (const QString resolved = canonical(root.path); !resolved.isEmpty())
            resolvedRoots.append({Root{resolved, root.depth}, QDir::cleanPath(root.path)});
    const auto rootHolding = [&](const QString &location) -> const std::pair<Root, QString> * {
        for (const auto &root : std::as_const(resolvedRoots))
            if (isStrictlyInside(location, root.first.path))
                return &root;
        return nullptr;
    };

    if (namesNoItem(path)) {
        const QString resolved = canonical(path);
        const bool reachesARoot = std::any_of(resolvedRoots.cbegin(), resolvedRoots.cend(), [&](const auto &root) {
            return resolved == root.first.path || isStrictlyInside(resolved, root.first.path);
        });
        return reachesARoot ? refuse(QStringLiteral("it does not name an item of its own")) : Verdict{};
    }
    const QString resolved = fromLocal(FileTree::resolveParent(local(path)));
    if (resolved.isEmpty())
        return {};
    const auto *held = rootHolding(resolved);
    if (!held)
        return {};
    const Root &root = held->first;
    const QString inside = below(resolved, root.path);
    if (root.depth > 0 && inside.count(QLatin1Char('/')) + 1 != root.depth)
        return refuse(QStringLiteral("it is not an item %1 level(s) inside %2").arg(root.depth).arg(root.path));
    const Verdict verdict = protectHome(
        Verdict{isThere(resolved) ? Kind::Allowed : Kind::Nothing, resolved, {}, held->second, inside});
    if (verdict.kind != Kind::Allowed || links == Links::AsThemselves || !isLink(resolved))
        return verdict;
    // A dangling link harms nothing by going; one that leads out of every root is refused.
    const QString target = canonical(resolved);
    if (!target.isEmpty() && !rootHolding(target))
        return refuse(QStringLiteral("it is a link that leads outside %1").arg(root.path));
    return verdict;
}

Verdict DeletionGuard::folder(const QString &path) const
{
    if (!QDir::isAbsolutePath(path))
        return refuse(QStringLiteral("it is not an absolute path"));
    if (namesNoItem(path) || path.endsWith(QLatin1Char('/')))
        return refuse(QStringLiteral("it does not name a folder of its own"));
    const QString resolved = fromLocal(FileTree::resolveParent(local(path)));
    if (resolved.isEmpty())
        return Verdict{Kind::Nothing, {}, {}, {}, {}};
    const QString named = QDir::cleanPath(path);
    const qsizetype slash = named.lastIndexOf(QLatin1Char('/'));
    return protectHome(Verdict{isThere(resolved) ? Kind::Allowed : Kind::Nothing, resolved, {},
                               slash == 0 ? QStringLiteral("/") : named.left(slash), named.mid(slash + 1)});
}

Verdict DeletionGuard::contents(const QString &path) const
{
    if (!QDir::isAbsolutePath(path))
        return refuse(QStringLiteral("it is not an absolute path"));
    const QString resolved = canonical(path);
    if (resolved.isEmpty() || !isFolder(resolved))
        return Verdict{Kind::Nothing, {}, {}, {}, {}};
    const Verdict verdict = protectHome(Verdict{Kind::Allowed, resolved, {}, QDir::cleanPath(path), {}});
    if (verdict.allowed() && isLink(verdict.base))
        return refuse(QStringLiteral("it is a link to %1, and the folder a link leads to may hold files that are not "
                                     "the cache's").arg(resolved));
    return verdict;
}

DeletionGuard::Removal DeletionGuard::remove(const Verdict &verdict) const
{
    Removal removal;
    const auto fail = [&removal](const QString &line) {
        removal.complete = false;
        removal.failures.append(line);
    };
    if (!verdict.allowed()) {
        removal.complete = verdict.kind != Kind::Refused;
        return removal;
    }
    const QString doing = verdict.below.isEmpty() ? QStringLiteral("empty") : QStringLiteral("delete");
    std::string error;
    std::string opened;
    const int base = TreeRemover::openBase(local(verdict.base), error, &opened);
    if (base < 0) {
        fail(QStringLiteral("Refusing to %1 %2: %3").arg(doing, verdict.location, fromLocal(error)));
        return removal;
    }
    // The folder opened is the one judged, or the judgement no longer holds.
    const QString folder = fromLocal(opened);
    const QString reached = verdict.below.isEmpty() ? folder
        : folder == QLatin1String("/")               ? folder + verdict.below
                                                     : folder + QLatin1Char('/') + verdict.below;
    if (reached != verdict.location || protectHome(Verdict{Kind::Allowed, reached, {}, {}, {}}).kind != Kind::Allowed) {
        ::close(base);
        fail(QStringLiteral("Refusing to %1 %2: it changed since it was checked").arg(doing, verdict.location));
        return removal;
    }
    const TreeRemover::Result result = TreeRemover::remove(base, local(verdict.below), opened);
    ::close(base);
    removal.freed = result.freed;
    for (const std::string &line : result.failures)
        fail(QStringLiteral("Could not delete %1").arg(fromLocal(line)));
    removal.complete = result.complete;
    return removal;
}
