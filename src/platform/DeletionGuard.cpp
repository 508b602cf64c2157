#include "DeletionGuard.h"

#include "FileTree.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>

#include <sys/stat.h>

namespace {
using Verdict = DeletionGuard::Verdict;
using Kind = Verdict::Kind;

std::string local(const QString &path) { return QFile::encodeName(path).toStdString(); }
QString fromLocal(const std::string &path) { return QFile::decodeName(QByteArray::fromStdString(path)); }
QString canonical(const QString &path) { return QFileInfo(path).canonicalFilePath(); }

Verdict refuse(const QString &reason) { return Verdict{Kind::Refused, {}, reason}; }

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
    QList<Root> resolvedRoots;
    for (const Root &root : roots)
        if (const QString resolved = canonical(root.path); !resolved.isEmpty())
            resolvedRoots.append(Root{resolved, root.depth});
    const auto rootHolding = [&](const QString &location) -> const Root * {
        for (const Root &root : std::as_const(resolvedRoots))
            if (isStrictlyInside(location, root.path))
                return &root;
        return nullptr;
    };

    if (namesNoItem(path)) {
        const QString resolved = canonical(path);
        const bool reachesARoot = std::any_of(resolvedRoots.cbegin(), resolvedRoots.cend(), [&](const Root &root) {
            return resolved == root.path || isStrictlyInside(resolved, root.path);
        });
        return reachesARoot ? refuse(QStringLiteral("it does not name an item of its own")) : Verdict{};
    }
    const QString resolved = fromLocal(FileTree::resolveParent(local(path)));
    if (resolved.isEmpty())
        return {};
    const Root *root = rootHolding(resolved);
    if (!root)
        return {};
    if (root->depth > 0) {
        const QString below = resolved.mid(root->path.size() + (root->path.endsWith(QLatin1Char('/')) ? 0 : 1));
        if (below.count(QLatin1Char('/')) + 1 != root->depth)
            return refuse(QStringLiteral("it is not an item %1 level(s) inside %2").arg(root->depth).arg(root->path));
    }
    const Verdict verdict = protectHome(Verdict{isThere(resolved) ? Kind::Allowed : Kind::Nothing, resolved, {}});
    if (verdict.kind != Kind::Allowed || links == Links::AsThemselves || !QFileInfo(resolved).isSymLink())
        return verdict;
    // A dangling link harms nothing by going; one that leads out of every root is refused.
    const QString target = canonical(resolved);
    if (!target.isEmpty() && !rootHolding(target))
        return refuse(QStringLiteral("it is a link that leads outside %1").arg(root->path));
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
        return Verdict{Kind::Nothing, {}, {}};
    return protectHome(Verdict{isThere(resolved) ? Kind::Allowed : Kind::Nothing, resolved, {}});
}

Verdict DeletionGuard::contents(const QString &path) const
{
    if (!QDir::isAbsolutePath(path))
        return refuse(QStringLiteral("it is not an absolute path"));
    const QString resolved = canonical(path);
    if (resolved.isEmpty() || !QFileInfo(resolved).isDir())
        return Verdict{Kind::Nothing, {}, {}};
    return protectHome(Verdict{Kind::Allowed, resolved, {}});
}
