#include "WeightDeduplicator.h"

#include "platform/FileLinker.h"
#include "platform/FileTree.h"

#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {
constexpr double kBytesPerGB = 1024.0 * 1024.0 * 1024.0;

std::string local(const QString &path) { return QFile::encodeName(path).toStdString(); }
QString fromLocal(const std::string &path) { return QFile::decodeName(QByteArray::fromStdString(path)); }

struct Copy
{
    QString path;
    QString store;
    QString digest;
    FileIdentity identity;
};

// Regular files directly in `folder` whose names `pattern` matches; its first group is the digest.
void collect(const QString &folder, const QRegularExpression &pattern, const QString &store, QList<Copy> &copies,
             QSet<QString> &seen)
{
    const std::string base = local(folder);
    for (const FileTreeEntry &entry : FileTree::children(base)) {
        if (entry.kind != FileTreeEntry::Kind::File)
            continue;
        const QRegularExpressionMatch match = pattern.match(fromLocal(entry.relativePath));
        const QString path = fromLocal(base + '/' + entry.relativePath);
        if (!match.hasMatch() || seen.contains(path))
            continue;
        const std::optional<FileIdentity> identity = FileLinker::identify(local(path));
        if (!identity || !identity->regular)
            continue;
        seen.insert(path);
        copies.append({path, store, match.captured(1), *identity});
    }
}

QString gb(qint64 bytes) { return QString::number(static_cast<double>(bytes) / kBytesPerGB, 'f', 2); }

QString describe(int error)
{
    switch (error) {
    case EXDEV:
        return QStringLiteral("they are on different file systems");
    case EPERM:
        return QStringLiteral("not permitted (the file belongs to another user or hard links to it are protected)");
    case EACCES:
        return QStringLiteral("permission denied");
    case EOPNOTSUPP:
    case ENOTTY:
    case EINVAL:
        return QStringLiteral("the file system has no reflink support");
    case EROFS:
        return QStringLiteral("the file system is read-only");
    case EMLINK:
        return QStringLiteral("the file has too many links");
    case ENOSPC:
        return QStringLiteral("the disk is full");
    default:
        return QString::fromLocal8Bit(std::strerror(error));
    }
}

QString joined(const QList<int> &errors)
{
    QStringList parts;
    for (const int error : errors)
        if (!parts.contains(describe(error)))
            parts.append(describe(error));
    return parts.join(QStringLiteral(", "));
}

QString leftLine(const DuplicateWeights &row, const QString &why)
{
    return QStringLiteral("Left %1 and %2 as they are: %3").arg(row.replacedPath, row.keptPath, why);
}
}

QList<DuplicateWeights> WeightDeduplicator::find(const QStringList &ollamaBlobDirs, const QString &huggingFaceHub)
{
    static const QRegularExpression ollamaName(QStringLiteral("^sha256-([0-9a-f]{64})$"));
    static const QRegularExpression hubName(QStringLiteral("^([0-9a-f]{64})$"));
    QList<Copy> copies;
    QSet<QString> seen;
    for (const QString &dir : ollamaBlobDirs)
        collect(dir, ollamaName, QLatin1String(kStoreOllama), copies, seen);
    if (!huggingFaceHub.isEmpty()) {
        for (const FileTreeEntry &repo : FileTree::children(local(huggingFaceHub)))
            if (repo.kind == FileTreeEntry::Kind::Directory && repo.relativePath.starts_with("models--"))
                collect(huggingFaceHub + u'/' + fromLocal(repo.relativePath) + QStringLiteral("/blobs"), hubName,
                        QLatin1String(kStoreHuggingFace), copies, seen);
    }

    QHash<QString, QList<Copy>> groups;
    QStringList order;
    for (const Copy &copy : std::as_const(copies)) {
        const QString key = copy.digest + u'/' + QString::number(copy.identity.size);
        if (!groups.contains(key))
            order.append(key);
        groups[key].append(copy);
    }
    order.sort();

    QList<DuplicateWeights> rows;
    for (const QString &key : std::as_const(order)) {
        QList<Copy> group = groups.value(key);
        if (group.size() < 2)
            continue;
        std::stable_sort(group.begin(), group.end(), [](const Copy &a, const Copy &b) {
            const bool aOllama = a.store == QLatin1String(kStoreOllama);
            const bool bOllama = b.store == QLatin1String(kStoreOllama);
            return aOllama != bOllama ? aOllama : a.path < b.path;
        });
        const Copy &kept = group.first();
        // Names of one inode found here: its blocks come back only once all of them, and
        // no name elsewhere, lead to the kept file.
        QHash<QString, int> namesFound;
        const auto inodeKey = [](const FileIdentity &id) { return QStringLiteral("%1:%2").arg(id.device).arg(id.inode); };
        for (const Copy &copy : std::as_const(group))
            ++namesFound[inodeKey(copy.identity)];
        QSet<QString> counted;
        for (const Copy &copy : std::as_const(group)) {
            if (copy.identity.sameFile(kept.identity))
                continue;
            DuplicateWeights row;
            row.keptPath = kept.path;
            row.replacedPath = copy.path;
            row.keptStore = kept.store;
            row.replacedStore = copy.store;
            row.digest = copy.digest;
            row.size = copy.identity.size;
            const QString inode = inodeKey(copy.identity);
            if (!counted.contains(inode)) {
                counted.insert(inode);
                if (static_cast<qint64>(copy.identity.links) <= namesFound.value(inode))
                    row.reclaimableBytes = copy.identity.allocated;
            }
            rows.append(row);
        }
    }
    return rows;
}

WeightDeduplicator::Outcome WeightDeduplicator::apply(const QList<DuplicateWeights> &rows, const QStringList &roots,
                                                      const DeletionGuard &guard)
{
    QList<DeletionGuard::Root> confinement;
    for (const QString &root : roots)
        if (!root.isEmpty())
            confinement.append({root, 0});
    const auto replaceable = [&](const QString &path) { return guard.item(path, confinement).allowed(); };

    Outcome outcome;
    for (const DuplicateWeights &row : rows) {
        const auto leave = [&](const QString &why) {
            outcome.leftAlone.append(row);
            outcome.reasons.append(leftLine(row, why));
        };
        const std::string kept = local(row.keptPath);
        const std::string copy = local(row.replacedPath);
        const std::optional<FileIdentity> keptId = FileLinker::identify(kept);
        const std::optional<FileIdentity> copyId = FileLinker::identify(copy);
        if (!keptId || !copyId || !keptId->regular || !copyId->regular) {
            leave(QStringLiteral("one of them is no longer there"));
            continue;
        }
        if (keptId->sameFile(*copyId))
            continue;   // linked already, by an earlier row or by someone else
        int error = 0;
        const FileLinker::Comparison comparison = FileLinker::compare(kept, copy, &error);
        if (comparison == FileLinker::Comparison::Different) {
            leave(QStringLiteral("their contents differ although their names carry the same digest"));
            continue;
        }
        if (comparison == FileLinker::Comparison::Unreadable) {
            leave(QStringLiteral("they could not be read to compare (%1)").arg(describe(error)));
            continue;
        }

        struct Attempt
        {
            const std::string *source;
            const FileIdentity *sourceId;
            const std::string *target;
            const FileIdentity *targetId;
            FileLinker::Method method;
            bool allowed;
        };
        const bool copyReplaceable = replaceable(row.replacedPath);
        const bool keptReplaceable = replaceable(row.keptPath);
        const Attempt attempts[] = {
            {&kept, &*keptId, &copy, &*copyId, FileLinker::Method::HardLink, copyReplaceable},
            {&copy, &*copyId, &kept, &*keptId, FileLinker::Method::HardLink, keptReplaceable},
            {&kept, &*keptId, &copy, &*copyId, FileLinker::Method::Reflink, copyReplaceable},
            {&copy, &*copyId, &kept, &*keptId, FileLinker::Method::Reflink, keptReplaceable},
        };
        QList<int> linkErrors, reflinkErrors;
        bool done = false, changed = false;
        for (const Attempt &attempt : attempts) {
            if (!attempt.allowed)
                continue;
            const FileLinker::Replacement result =
                FileLinker::replace(*attempt.source, *attempt.sourceId, *attempt.target, *attempt.targetId, attempt.method);
            if (result.error == 0) {
                ++outcome.linked;
                outcome.reclaimed += result.freed;
                done = true;
                break;
            }
            if (result.error == ESTALE) {
                changed = true;
                break;
            }
            (attempt.method == FileLinker::Method::HardLink ? linkErrors : reflinkErrors).append(result.error);
        }
        if (done)
            continue;
        if (changed)
            leave(QStringLiteral("a file changed while it was being linked"));
        else if (!copyReplaceable && !keptReplaceable)
            leave(QStringLiteral("neither lies inside a model store that may be changed"));
        else
            leave(QStringLiteral("no hard link (%1) and no reflink copy (%2)").arg(joined(linkErrors), joined(reflinkErrors)));
    }
    return outcome;
}

qint64 WeightDeduplicator::reclaimableBytes(const QList<DuplicateWeights> &rows)
{
    qint64 total = 0;
    for (const DuplicateWeights &row : rows)
        total += row.reclaimableBytes;
    return total;
}

QString WeightDeduplicator::foundMessage(const QList<DuplicateWeights> &rows)
{
    if (rows.isEmpty())
        return QStringLiteral("No duplicate weights found");
    return QStringLiteral("Found %1 duplicate %2; linking would reclaim %3 GB")
        .arg(rows.size())
        .arg(rows.size() == 1 ? QStringLiteral("file") : QStringLiteral("files"))
        .arg(gb(reclaimableBytes(rows)));
}

QString WeightDeduplicator::summary(const Outcome &outcome)
{
    QStringList lines;
    if (outcome.linked > 0 || outcome.leftAlone.isEmpty())
        lines.append(QStringLiteral("Reclaimed %1 GB by linking %2 duplicate %3")
                         .arg(gb(outcome.reclaimed))
                         .arg(outcome.linked)
                         .arg(outcome.linked == 1 ? QStringLiteral("file") : QStringLiteral("files")));
    else
        lines.append(QStringLiteral("No duplicate file could be linked"));
    lines += outcome.reasons;
    return lines.join(u'\n');
}
