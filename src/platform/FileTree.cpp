#include "FileTree.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>

namespace {
constexpr int kMaxDepth = 128;   // one open descriptor per level

// st_blocks is in 512-byte units whatever the file system's block size.
std::uint64_t allocatedBytes(const struct stat &st)
{
    return static_cast<std::uint64_t>(st.st_blocks) * 512;
}

FileTreeEntry entryFrom(const struct stat &st, std::string relativePath)
{
    FileTreeEntry e;
    e.relativePath = std::move(relativePath);
    if (S_ISREG(st.st_mode))
        e.kind = FileTreeEntry::Kind::File;
    else if (S_ISDIR(st.st_mode))
        e.kind = FileTreeEntry::Kind::Directory;
    else if (S_ISLNK(st.st_mode))
        e.kind = FileTreeEntry::Kind::Symlink;
    e.size = e.kind == FileTreeEntry::Kind::Directory ? 0 : static_cast<std::uint64_t>(st.st_size);
    e.allocated = allocatedBytes(st);
    e.device = static_cast<std::uint64_t>(st.st_dev);
    e.inode = static_cast<std::uint64_t>(st.st_ino);
    e.modified = static_cast<std::int64_t>(st.st_mtim.tv_sec);
    e.owner = static_cast<unsigned>(st.st_uid);
    e.links = static_cast<unsigned>(st.st_nlink);
    return e;
}

int openFolder(const std::string &path)
{
    return ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

// Walks the folder open as `fd` (consumed), whose device is `device`.
void walkFd(int fd, std::uint64_t device, const std::string &prefix, int depth, const FileTree::Visitor &visit)
{
    DIR *dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return;
    }
    while (const dirent *d = ::readdir(dir)) {
        const std::string_view name(d->d_name);
        if (name == "." || name == "..")
            continue;
        struct stat st {};
        if (::fstatat(::dirfd(dir), d->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
            continue;
        std::string relative = prefix.empty() ? std::string(name) : prefix + '/' + std::string(name);
        if (S_ISDIR(st.st_mode) && static_cast<std::uint64_t>(st.st_dev) == device && depth < kMaxDepth) {
            const int child = ::openat(::dirfd(dir), d->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (child >= 0)
                walkFd(child, device, relative, depth + 1, visit);
        }
        visit(entryFrom(st, std::move(relative)));
    }
    ::closedir(dir);
}
}

bool FileTree::walk(const std::string &root, const Visitor &visit)
{
    const int fd = openFolder(root);
    if (fd < 0)
        return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        ::close(fd);
        return false;
    }
    walkFd(fd, static_cast<std::uint64_t>(st.st_dev), {}, 0, visit);
    return true;
}

std::vector<FileTreeEntry> FileTree::children(const std::string &root)
{
    std::vector<FileTreeEntry> out;
    const int fd = openFolder(root);
    if (fd < 0)
        return out;
    DIR *dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return out;
    }
    while (const dirent *d = ::readdir(dir)) {
        const std::string_view name(d->d_name);
        if (name == "." || name == "..")
            continue;
        struct stat st {};
        if (::fstatat(::dirfd(dir), d->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0)
            out.push_back(entryFrom(st, std::string(name)));
    }
    ::closedir(dir);
    return out;
}

bool FileTree::removeEntry(int root, const FileTreeEntry &entry, std::uint64_t &freed, int *error)
{
    if (error)
        *error = 0;
    if (entry.relativePath.empty() || entry.relativePath.front() == '/')
        return false;
    int fd = ::openat(root, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;

    // Descend one component at a time, refusing links, so a folder swapped for a link
    // since the walk cannot redirect the deletion.
    std::string_view rest(entry.relativePath);
    for (;;) {
        const size_t slash = rest.find('/');
        if (slash == std::string_view::npos)
            break;
        const std::string component(rest.substr(0, slash));
        rest.remove_prefix(slash + 1);
        if (component.empty() || component == "." || component == "..") {
            ::close(fd);
            return false;
        }
        const int next = ::openat(fd, component.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        ::close(fd);
        if (next < 0)
            return false;
        fd = next;
    }
    const std::string name(rest);
    bool removed = false;
    struct stat st {};
    if (!name.empty() && name != "." && name != ".."
        && ::fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0
        && static_cast<std::uint64_t>(st.st_ino) == entry.inode
        && static_cast<std::uint64_t>(st.st_dev) == entry.device
        // A file written to since the walk is no longer what was found.
        && (S_ISDIR(st.st_mode) || static_cast<std::int64_t>(st.st_mtim.tv_sec) == entry.modified)) {
        const bool folder = S_ISDIR(st.st_mode);
        if (folder == (entry.kind == FileTreeEntry::Kind::Directory)
            && ::unlinkat(fd, name.c_str(), folder ? AT_REMOVEDIR : 0) == 0) {
            removed = true;
            // The last link of a file releases its blocks; an extra link releases nothing.
            if ((S_ISREG(st.st_mode) && st.st_nlink <= 1) || S_ISLNK(st.st_mode))
                freed += allocatedBytes(st);
        } else if (error && folder == (entry.kind == FileTreeEntry::Kind::Directory)) {
            *error = errno;
        }
    }
    ::close(fd);
    return removed;
}

namespace {
struct SizeWalk
{
    struct Linked
    {
        std::uint64_t links = 0;   // st_nlink: names the file has anywhere
        std::uint64_t seen = 0;    // names met inside the walk
        std::uint64_t bytes = 0;
    };
    std::uint64_t device = 0;
    std::uint64_t total = 0;
    std::unordered_map<std::uint64_t, Linked> linked;   // multiply linked files, by inode

    void addFile(const struct stat &st)
    {
        if (st.st_nlink <= 1) {
            total += allocatedBytes(st);
            return;
        }
        // Whether all its names are inside is known only at the end of the walk.
        Linked &file = linked[static_cast<std::uint64_t>(st.st_ino)];
        file.links = static_cast<std::uint64_t>(st.st_nlink);
        file.bytes = allocatedBytes(st);
        ++file.seen;
    }

    std::uint64_t finish() const
    {
        std::uint64_t sum = total;
        for (const auto &[inode, file] : linked)
            if (file.seen >= file.links)
                sum += file.bytes;
        return sum;
    }
};

// Consumes `fd`. Names come from readdir's type field where the file system fills it, so
// links cost no stat of their own; files are measured, and folders by the fstat that
// checks their device anyway.
void sizeFd(int fd, int depth, SizeWalk &walk)
{
    DIR *dir = ::fdopendir(fd);
    if (!dir) {
        ::close(fd);
        return;
    }
    const int dfd = ::dirfd(dir);
    while (const dirent *d = ::readdir(dir)) {
        if (d->d_name[0] == '.')
            continue;   // hidden, and "." and ".."
        unsigned char type = d->d_type;
        struct stat st {};
        if (type == DT_UNKNOWN) {
            if (::fstatat(dfd, d->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                continue;
            type = S_ISREG(st.st_mode) ? DT_REG : S_ISDIR(st.st_mode) ? DT_DIR : DT_LNK;
            if (type == DT_REG) {
                walk.addFile(st);
                continue;
            }
        }
        if (type == DT_REG) {
            if (::fstatat(dfd, d->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode))
                walk.addFile(st);
        } else if (type == DT_DIR && depth < kMaxDepth) {
            const int child = ::openat(dfd, d->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (child < 0)
                continue;
            if (::fstat(child, &st) != 0 || static_cast<std::uint64_t>(st.st_dev) != walk.device) {
                ::close(child);
                continue;
            }
            walk.total += allocatedBytes(st);
            sizeFd(child, depth + 1, walk);
        }
    }
    ::closedir(dir);
}
}

std::uint64_t FileTree::visibleSize(const std::string &root)
{
    const int fd = openFolder(root);
    if (fd < 0)
        return 0;
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        ::close(fd);
        return 0;
    }
    SizeWalk walk;
    walk.device = static_cast<std::uint64_t>(st.st_dev);
    sizeFd(fd, 0, walk);
    return walk.finish();
}

std::string FileTree::resolveParent(const std::string &path)
{
    if (path.empty() || path.front() != '/')
        return {};
    std::string trimmed = path;
    while (trimmed.size() > 1 && trimmed.back() == '/')
        trimmed.pop_back();
    const size_t slash = trimmed.rfind('/');
    const std::string name = trimmed.substr(slash + 1);
    if (name.empty() || name == "." || name == "..")
        return {};
    const std::string parent = slash == 0 ? std::string("/") : trimmed.substr(0, slash);
    char resolved[PATH_MAX];
    if (!::realpath(parent.c_str(), resolved))
        return {};
    std::string out(resolved);
    if (out.back() != '/')
        out += '/';
    return out + name;
}

bool FileTree::isDirectory(const std::string &path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool FileTree::isLink(const std::string &path)
{
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

std::int64_t FileTree::modifiedNanoseconds(const std::string &path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return -1;
    return static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000LL + st.st_mtim.tv_nsec;
}
