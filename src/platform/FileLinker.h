#pragma once

#include <cstdint>
#include <optional>
#include <string>

// What lstat says about one item: enough to tell whether two paths are one file, whether a
// file changed between two looks, and what deleting its last name would free.
struct FileIdentity
{
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint64_t links = 0;
    std::int64_t size = 0;        // bytes
    std::int64_t allocated = 0;   // bytes of blocks on disk (st_blocks * 512)
    std::int64_t modifiedNs = 0;
    unsigned mode = 0;
    bool regular = false;

    bool sameFile(const FileIdentity &other) const { return device == other.device && inode == other.inode; }
    // The same file, unchanged since `earlier` was taken.
    bool unchangedSince(const FileIdentity &earlier) const
    {
        return sameFile(earlier) && size == earlier.size && modifiedNs == earlier.modifiedNs;
    }
};

// Makes one file's contents appear under another file's name without copying them: a hard
// link, or a reflink where the file system shares extents. The name is swapped with
// rename(), so the replaced path always names a complete file, either the old one or the
// new. Nothing here decides what should be replaced; it only refuses to act on files that
// changed since the caller looked at them.
class FileLinker
{
public:
    enum class Method { HardLink, Reflink };
    enum class Comparison { Same, Different, Unreadable };

    struct Replacement
    {
        int error = 0;              // 0: done; else an errno, ESTALE when a file changed
        std::int64_t freed = 0;     // bytes of the replaced file's blocks given back
    };

    // lstat of `path`; none when it cannot be looked at.
    static std::optional<FileIdentity> identify(const std::string &path);

    // Reads both files to the end and compares every byte. `error` receives the errno of
    // an open or read that failed.
    static Comparison compare(const std::string &a, const std::string &b, int *error = nullptr);

    // Puts `source`'s contents at `target`: a new name for the same inode (HardLink) or a
    // new inode sharing its extents (Reflink), made beside `target` under a temporary name
    // and renamed over it. Both must still be the files `sourceSeen` and `targetSeen`
    // describe, unchanged; otherwise nothing happens and the error is ESTALE. `freed`
    // counts the old target's blocks only when its last name went with it.
    static Replacement replace(const std::string &source, const FileIdentity &sourceSeen, const std::string &target,
                               const FileIdentity &targetSeen, Method method);
};
