#include "FileLinker.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <linux/fs.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

namespace {
FileIdentity fromStat(const struct stat &st)
{
    FileIdentity id;
    id.device = st.st_dev;
    id.inode = st.st_ino;
    id.links = st.st_nlink;
    id.size = st.st_size;
    id.allocated = static_cast<std::int64_t>(st.st_blocks) * 512;
    id.modifiedNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
    id.mode = st.st_mode;
    id.regular = S_ISREG(st.st_mode);
    return id;
}

std::optional<FileIdentity> identifyFd(int fd)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return std::nullopt;
    return fromStat(st);
}

// Closes on every way out of replace().
struct Fd
{
    int fd = -1;
    explicit Fd(int f) : fd(f) {}
    ~Fd()
    {
        if (fd >= 0)
            ::close(fd);
    }
    Fd(const Fd &) = delete;
    Fd &operator=(const Fd &) = delete;
};

// Fills `buffer` unless the file ends first; the bytes read, or -1.
ssize_t readFully(int fd, char *buffer, size_t wanted)
{
    size_t got = 0;
    while (got < wanted) {
        const ssize_t n = ::read(fd, buffer + got, wanted - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return -1;
        if (n == 0)
            break;
        got += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(got);
}

std::string folderOf(const std::string &path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : slash == 0 ? std::string("/") : path.substr(0, slash);
}

// A name beside `target` that starts with a dot, so walks that skip hidden files (the
// size figures, the model file list) never count a half-made link.
std::string temporaryName(const std::string &target)
{
    static thread_local std::mt19937_64 random{std::random_device{}()};
    const size_t slash = target.rfind('/');
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    char suffix[17];
    std::snprintf(suffix, sizeof suffix, "%016llx", static_cast<unsigned long long>(random()));
    return folderOf(target) + "/." + base + ".dedup-" + suffix;
}

// Makes `temp` hold the source's contents; an errno on failure, EEXIST to try another name.
int makeTemporary(FileLinker::Method method, const std::string &source, int sourceFd, const std::string &temp,
                  unsigned mode)
{
    if (method == FileLinker::Method::HardLink)
        return ::link(source.c_str(), temp.c_str()) == 0 ? 0 : errno;
#ifdef FICLONE
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return errno;
    int error = 0;
    if (::ioctl(fd, FICLONE, sourceFd) != 0 || ::fchmod(fd, mode & 07777) != 0 || ::fsync(fd) != 0)
        error = errno;
    ::close(fd);
    if (error != 0)
        ::unlink(temp.c_str());
    return error;
#else
    (void)source;
    (void)sourceFd;
    (void)temp;
    (void)mode;
    return EOPNOTSUPP;
#endif
}
}

std::optional<FileIdentity> FileLinker::identify(const std::string &path)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0)
        return std::nullopt;
    return fromStat(st);
}

FileLinker::Comparison FileLinker::compare(const std::string &a, const std::string &b, int *error)
{
    const auto failed = [error] {
        if (error)
            *error = errno;
        return Comparison::Unreadable;
    };
    const Fd first(::open(a.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (first.fd < 0)
        return failed();
    const Fd second(::open(b.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (second.fd < 0)
        return failed();
    const std::optional<FileIdentity> one = identifyFd(first.fd);
    const std::optional<FileIdentity> two = identifyFd(second.fd);
    if (!one || !two)
        return failed();
    if (!one->regular || !two->regular || one->size != two->size)
        return Comparison::Different;
    ::posix_fadvise(first.fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    ::posix_fadvise(second.fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    constexpr size_t kChunk = 1 << 20;
    std::vector<char> left(kChunk), right(kChunk);
    for (;;) {
        const ssize_t n = readFully(first.fd, left.data(), kChunk);
        const ssize_t m = readFully(second.fd, right.data(), kChunk);
        if (n < 0 || m < 0)
            return failed();
        if (n != m || std::memcmp(left.data(), right.data(), static_cast<size_t>(n)) != 0)
            return Comparison::Different;
        if (n == 0)
            return Comparison::Same;
    }
}

FileLinker::Replacement FileLinker::replace(const std::string &source, const FileIdentity &sourceSeen,
                                            const std::string &target, const FileIdentity &targetSeen, Method method)
{
    // The old target is held open so that, once renamed over, its link count says whether
    // its blocks were really given back or another name still keeps them.
    const Fd old(::open(target.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (old.fd < 0)
        return {errno, 0};
    const std::optional<FileIdentity> before = identifyFd(old.fd);
    if (!before || !before->unchangedSince(targetSeen))
        return {ESTALE, 0};
    const Fd from(::open(source.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (from.fd < 0)
        return {errno, 0};
    const std::optional<FileIdentity> sourceNow = identifyFd(from.fd);
    if (!sourceNow || !sourceNow->unchangedSince(sourceSeen))
        return {ESTALE, 0};

    std::string temp;
    int error = EEXIST;
    for (int attempt = 0; attempt < 8 && error == EEXIST; ++attempt) {
        temp = temporaryName(target);
        error = makeTemporary(method, source, from.fd, temp, targetSeen.mode);
    }
    if (error != 0)
        return {error, 0};

    // The names may have been swapped under us while the temporary was made: the link must
    // lead to the inode compared, and the target must still be the one compared.
    const std::optional<FileIdentity> made = identify(temp);
    const std::optional<FileIdentity> sourceAfter = identifyFd(from.fd);
    const std::optional<FileIdentity> targetNow = identify(target);
    const bool linkRight = method == Method::Reflink || (made && made->sameFile(sourceSeen));
    if (!made || !linkRight || !sourceAfter || !sourceAfter->unchangedSince(sourceSeen) || !targetNow
        || !targetNow->unchangedSince(targetSeen)) {
        ::unlink(temp.c_str());
        return {ESTALE, 0};
    }
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        const int renameError = errno;
        ::unlink(temp.c_str());
        return {renameError, 0};
    }
    const std::optional<FileIdentity> after = identifyFd(old.fd);
    return {0, after && after->links == 0 ? after->allocated : 0};
}
