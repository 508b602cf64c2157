#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// One item below a walked folder, as lstat describes it.
struct FileTreeEntry
{
    enum class Kind { File, Directory, Symlink, Other };

    std::string relativePath;   // from the walked folder, '/'-separated, never empty
    Kind kind = Kind::Other;
    std::uint64_t size = 0;     // bytes of a file or link; 0 for folders
    std::uint64_t allocated = 0;   // bytes of blocks on disk (st_blocks * 512): what deleting it gives back
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t modified = 0;  // seconds since 1970
    unsigned owner = 0;
    unsigned links = 1;
};

// Folder walks that never follow a symbolic link and never leave the folder's file system:
// a link inside a cache that points at the user's documents is measured as a link, and the
// documents are not counted. Whole trees are deleted by TreeRemover.
class FileTree
{
public:
    using Visitor = std::function<void(const FileTreeEntry &)>;

    // Visits everything beneath `root` (not `root` itself), a folder's contents before the
    // folder. Unreadable parts are skipped. False when `root` is not a readable folder.
    static bool walk(const std::string &root, const Visitor &visit);

    // The entries directly inside `root`.
    static std::vector<FileTreeEntry> children(const std::string &root);

    // Deletes one entry a walk of the folder open as `root` reported, provided the path still
    // leads to the same item, unmodified, without passing through a link. A folder goes only
    // when it is empty by now. Adds the blocks released to `freed`. False when nothing was
    // deleted; then `error` is the errno of a deletion that failed, or 0 when the item was
    // gone or changed and so left alone.
    static bool removeEntry(int root, const FileTreeEntry &entry, std::uint64_t &freed, int *error = nullptr);

    // Bytes on disk beneath `root` that a user sees, counted as deleting them would give
    // them back: the blocks allocated to files and folders (a sparse file costs what was
    // written, as `du -s -B1` counts), `root` itself aside. Entries whose names begin with a
    // dot are neither counted nor entered, links add nothing, and other file systems mounted
    // inside are left out. A file with several hard links counts once, and only when every
    // one of its names lies inside: one also named elsewhere stays when the folder goes.
    // `root` itself may be reached through a link. 0 when it is not a readable folder.
    static std::uint64_t visibleSize(const std::string &root);

    // `path` made absolute with every folder on the way resolved (links, "." and ".."),
    // its last component kept as it is, so a link there is judged as the link itself.
    // Empty when a folder on the way does not exist, or the last component is "." or "..",
    // which would name a folder above.
    static std::string resolveParent(const std::string &path);

    static bool isDirectory(const std::string &path);
    // True when `path` itself is a symbolic link.
    static bool isLink(const std::string &path);
    // Modification time of `path` in nanoseconds since 1970, -1 when it does not exist.
    static std::int64_t modifiedNanoseconds(const std::string &path);
};
