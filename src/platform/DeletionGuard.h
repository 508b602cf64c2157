#pragma once

#include <QList>
#include <QString>
#include <QStringList>

// The one check made before anything is deleted, and the deletion itself. A path is judged
// as the kernel would resolve it (links and ".." in the folders on the way), its last
// component kept as it is, so a link there is judged, and deleted, as the link itself.
// Whatever it resolves to, the home folder and every folder above it are never deleted.
// Paths are LocalPath text: names that are not UTF-8 are judged and deleted like any other.
class DeletionGuard
{
public:
    // A folder deletions are confined to. Its own links are followed: the folder it leads
    // to is the confinement. With `depth` > 0 only items exactly that many levels below it
    // qualify (a version folder, say, and nothing inside one).
    struct Root
    {
        QString path;
        int depth = 0;
    };

    // How a link inside a root is judged: as itself, which harms nothing by going, or by
    // where it leads too, for lists that show what a link leads to as if it were there.
    enum class Links { AsThemselves, MustLeadInside };

    struct Verdict
    {
        // Allowed: `location` may go. Nothing: a place inside a root where nothing is.
        // Outside: in no root. Refused: inside a root, or the home folder or above, and
        // not to be deleted; `reason` says why.
        enum class Kind { Allowed, Nothing, Outside, Refused };
        Kind kind = Kind::Outside;
        QString location;
        QString reason;
        // Where remove() starts from: the folder it opens once (as named, so a link there
        // is seen), and the item's path below it ('/'-separated; empty: all it holds).
        QString base;
        QString below;

        bool allowed() const { return kind == Kind::Allowed; }
    };

    // `home` is the user's home folder (an empty one: this user's).
    explicit DeletionGuard(const QString &home = {});

    // An item strictly inside one of `roots`, tried in order; a path that only a later root
    // holds is judged by that one.
    Verdict item(const QString &path, const QList<Root> &roots, Links links = Links::AsThemselves) const;

    // A folder a setting names, to be deleted with its contents. A link there is judged
    // as the link itself.
    Verdict folder(const QString &path) const;

    // A folder a setting names whose contents are to go while it stays. Refused when it is a
    // link: the folder it leads to may hold more than the cache. Nothing when there is no
    // such folder.
    Verdict contents(const QString &path) const;

    struct Removal
    {
        bool complete = true;    // nothing that was to go is left
        quint64 freed = 0;       // bytes of blocks given back
        QStringList failures;    // one line per item left behind, for the caller's log
    };

    // Deletes what an allowed verdict names, through descriptors: the base folder is opened
    // once, links on the way to it only when root or this user owns them, every folder below
    // it is entered without following links, and items go relative to the folder holding
    // them. A folder swapped for a link meanwhile stops the deletion there.
    Removal remove(const Verdict &verdict) const;

    QString home() const { return m_home; }

    // True when `location` is below `root` (both absolute and clean), not the root itself.
    static bool isStrictlyInside(const QString &location, const QString &root);

private:
    Verdict protectHome(Verdict verdict) const;

    QString m_home;   // resolved
};
