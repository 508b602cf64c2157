#include "TreeRemover.h"

#include <cerrno>
#include <cstring>
#include <deque>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
constexpr int kMaxLinkHops = 40;   // as the kernel allows when resolving a path
// Folders held open at once while emptying; deeper ones are entered again from the
// nearest open one when the walk climbs back, so any depth fits a small descriptor budget.
constexpr size_t kHeldFolders = 64;

constexpr int kFolderFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

std::vector<std::string> split(const std::string &path)
{
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= path.size()) {
        size_t slash = path.find('/', start);
        if (slash == std::string::npos)
            slash = path.size();
        if (slash > start)
            parts.push_back(path.substr(start, slash - start));
        start = slash + 1;
    }
    return parts;
}

std::string joined(const std::vector<std::string> &parts)
{
    std::string out;
    for (const std::string &part : parts)
        out += '/' + part;
    return out.empty() ? std::string("/") : out;
}

std::string readLink(int folder, const std::string &name)
{
    std::string target(256, '\0');
    for (;;) {
        const ssize_t n = ::readlinkat(folder, name.c_str(), target.data(), target.size());
        if (n < 0)
            return {};
        if (static_cast<size_t>(n) < target.size()) {
            target.resize(static_cast<size_t>(n));
            return target;
        }
        target.resize(target.size() * 2);
    }
}

std::string reason(int error)
{
    switch (error) {
    case EACCES:
    case EPERM:
        return "permission denied";
    case EBUSY:
        return "it is in use (a file system is mounted there)";
    case EROFS:
        return "the file system is read-only";
    case ELOOP:
        return "it was replaced by a link while being deleted";
    default:
        return std::strerror(error);
    }
}

// Lists a folder's names without keeping a descriptor for it.
bool listNames(int folder, std::vector<std::string> &names, int &error)
{
    const int copy = ::openat(folder, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR *dir = copy >= 0 ? ::fdopendir(copy) : nullptr;
    if (!dir) {
        error = errno;
        if (copy >= 0)
            ::close(copy);
        return false;
    }
    errno = 0;
    while (const dirent *d = ::readdir(dir)) {
        const std::string_view name(d->d_name);
        if (name != "." && name != "..")
            names.emplace_back(name);
        errno = 0;
    }
    error = errno;
    ::closedir(dir);
    return error == 0;
}

std::uint64_t released(const struct stat &st)
{
    // The last name of a file gives its blocks back; another name of it gives nothing.
    if ((S_ISREG(st.st_mode) && st.st_nlink <= 1) || S_ISLNK(st.st_mode))
        return static_cast<std::uint64_t>(st.st_blocks) * 512;
    return 0;
}

// Empties a folder iteratively, so depth costs memory for names, not stack or descriptors.
class Emptier
{
public:
    Emptier(std::string shown, TreeRemover::Result &result) : m_shown(std::move(shown)), m_result(result) {}

    // Takes `fd`.
    void run(int fd)
    {
        struct stat st {};
        if (::fstat(fd, &st) != 0) {
            fail({}, errno);
            ::close(fd);
            return;
        }
        enter(fd, {}, st);
        while (!m_frames.empty()) {
            if (!m_frames.back().pending.empty()) {
                step();
                continue;
            }
            Frame done = std::move(m_frames.back());
            m_frames.pop_back();
            if (done.fd >= 0)
                ::close(done.fd);
            if (m_frames.empty())
                break;
            if (!reopenTop())
                return;
            Frame &parent = m_frames.back();
            if (::unlinkat(parent.fd, done.name.c_str(), AT_REMOVEDIR) != 0) {
                // A folder that kept some of its contents has said so already.
                if (!(done.failed && errno == ENOTEMPTY))
                    fail(pathOf(done.name), errno);
                parent.failed = true;
            }
        }
    }

private:
    struct Frame
    {
        int fd = -1;
        std::string name;   // in the folder above; empty for the first
        std::uint64_t device = 0;
        std::uint64_t inode = 0;
        std::vector<std::string> pending;
        bool failed = false;
    };

    void step()
    {
        Frame &top = m_frames.back();
        const std::string name = std::move(top.pending.back());
        top.pending.pop_back();
        struct stat st {};
        if (::fstatat(top.fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            if (errno != ENOENT) {
                fail(pathOf(name), errno);
                top.failed = true;
            }
            return;
        }
        if (!S_ISDIR(st.st_mode)) {
            if (::unlinkat(top.fd, name.c_str(), 0) == 0)
                m_result.freed += released(st);
            else if (errno != ENOENT) {
                fail(pathOf(name), errno);
                top.failed = true;
            }
            return;
        }
        if (static_cast<std::uint64_t>(st.st_dev) != top.device) {
            m_result.failures.push_back(pathOf(name) + ": another file system is mounted there; it stays");
            top.failed = true;
            return;
        }
        const int child = ::openat(top.fd, name.c_str(), kFolderFlags);
        struct stat opened {};
        if (child < 0 || ::fstat(child, &opened) != 0) {
            fail(pathOf(name), errno);
            if (child >= 0)
                ::close(child);
            top.failed = true;
            return;
        }
        if (opened.st_ino != st.st_ino || opened.st_dev != st.st_dev) {
            ::close(child);
            fail(pathOf(name), ELOOP);
            top.failed = true;
            return;
        }
        enter(child, name, opened);
    }

    // Takes `fd`.
    void enter(int fd, std::string name, const struct stat &st)
    {
        Frame frame;
        frame.fd = fd;
        frame.name = std::move(name);
        frame.device = static_cast<std::uint64_t>(st.st_dev);
        frame.inode = static_cast<std::uint64_t>(st.st_ino);
        int error = 0;
        if (!listNames(fd, frame.pending, error)) {
            const std::string where = m_frames.empty() ? m_shown : pathOf(frame.name);
            m_result.failures.push_back(where + ": cannot be read: " + reason(error));
            m_result.complete = false;
            frame.failed = true;
            // Whatever was listed still goes; the folder itself then fails to, quietly.
        }
        m_frames.push_back(std::move(frame));
        // The first folder stays open: every other one can be found again from it.
        if (m_frames.size() > kHeldFolders + 1) {
            Frame &oldest = m_frames[m_frames.size() - kHeldFolders - 1];
            if (oldest.fd >= 0) {
                ::close(oldest.fd);
                oldest.fd = -1;
            }
        }
    }

    // Opens again, by name and without following links, the folders down to the top one,
    // checking each is the folder it was.
    bool reopenTop()
    {
        if (m_frames.back().fd >= 0)
            return true;
        size_t open = m_frames.size() - 1;
        while (m_frames[open].fd < 0)
            --open;
        for (size_t i = open + 1; i < m_frames.size(); ++i) {
            Frame &frame = m_frames[i];
            frame.fd = ::openat(m_frames[i - 1].fd, frame.name.c_str(), kFolderFlags);
            struct stat st {};
            if (frame.fd < 0 || ::fstat(frame.fd, &st) != 0 || static_cast<std::uint64_t>(st.st_ino) != frame.inode
                || static_cast<std::uint64_t>(st.st_dev) != frame.device) {
                m_result.failures.push_back(pathAt(i) + ": it was moved while being deleted; the rest stays");
                m_result.complete = false;
                closeAll();
                return false;
            }
        }
        return true;
    }

    void closeAll()
    {
        for (Frame &frame : m_frames)
            if (frame.fd >= 0)
                ::close(frame.fd);
        m_frames.clear();
    }

    std::string pathAt(size_t depth) const
    {
        std::string out = m_shown;
        for (size_t i = 1; i <= depth && i < m_frames.size(); ++i)
            out += '/' + m_frames[i].name;
        return out;
    }
    std::string pathOf(const std::string &name) const { return pathAt(m_frames.size() - 1) + '/' + name; }

    void fail(const std::string &path, int error)
    {
        m_result.failures.push_back((path.empty() ? m_shown : path) + ": " + reason(error));
        m_result.complete = false;
    }

    std::string m_shown;
    TreeRemover::Result &m_result;
    std::vector<Frame> m_frames;
};
}

int TreeRemover::openBase(const std::string &path, std::string &error, std::string *canonical)
{
    if (path.empty() || path.front() != '/') {
        error = "it is not an absolute path";
        return -1;
    }
    int fd = ::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        error = reason(errno);
        return -1;
    }
    std::deque<std::string> rest;
    for (std::string &part : split(path))
        rest.push_back(std::move(part));
    std::vector<std::string> names;
    int hops = 0;
    const auto fail = [&](std::string why) {
        ::close(fd);
        error = std::move(why);
        return -1;
    };
    while (!rest.empty()) {
        const std::string name = std::move(rest.front());
        rest.pop_front();
        if (name == ".")
            continue;
        if (name == "..") {
            const int up = ::openat(fd, "..", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (up < 0)
                return fail(reason(errno));
            ::close(fd);
            fd = up;
            if (!names.empty())
                names.pop_back();
            continue;
        }
        const int next = ::openat(fd, name.c_str(), kFolderFlags);
        if (next >= 0) {
            ::close(fd);
            fd = next;
            names.push_back(name);
            continue;
        }
        const int openError = errno;
        struct stat st {};
        const std::string here = joined(names) == "/" ? "/" + name : joined(names) + '/' + name;
        if (::fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
            return fail(errno == ENOENT ? here + " does not exist" : here + ": " + reason(errno));
        if (!S_ISLNK(st.st_mode))
            return fail(openError == ENOTDIR ? here + " is not a folder" : here + ": " + reason(openError));
        const std::string target = readLink(fd, name);
        if (rest.empty())
            return fail(here + " is a link to " + target + "; the folder a link leads to may hold files that are "
                        "not the cache's");
        if (st.st_uid != 0 && st.st_uid != ::geteuid())
            return fail(here + " is a link another account owns");
        if (++hops > kMaxLinkHops || target.empty())
            return fail(here + ": too many links on the way");
        std::vector<std::string> targetParts = split(target);
        for (auto it = targetParts.rbegin(); it != targetParts.rend(); ++it)
            rest.push_front(std::move(*it));
        if (target.front() == '/') {
            const int top = ::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            if (top < 0)
                return fail(reason(errno));
            ::close(fd);
            fd = top;
            names.clear();
        }
    }
    if (canonical)
        *canonical = joined(names);
    return fd;
}

TreeRemover::Base::~Base()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

TreeRemover::Result TreeRemover::remove(int base, const std::string &relative, const std::string &shown)
{
    Result result;
    const std::vector<std::string> parts = split(relative);
    for (const std::string &part : parts)
        if (part == "." || part == "..") {
            result.complete = false;
            result.failures.push_back(shown + '/' + relative + ": it does not name an item of its own");
            return result;
        }
    int fd = ::openat(base, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        result.complete = false;
        result.failures.push_back(shown + ": " + reason(errno));
        return result;
    }
    std::string where = shown;
    for (size_t i = 0; i + 1 < parts.size(); ++i) {
        where += '/' + parts[i];
        const int next = ::openat(fd, parts[i].c_str(), kFolderFlags);
        const int error = errno;
        ::close(fd);
        if (next < 0) {
            if (error != ENOENT) {
                result.complete = false;
                result.failures.push_back(where + ": " + (error == ENOTDIR ? std::string("it is no longer a folder")
                                                                          : reason(error)));
            }
            return result;
        }
        fd = next;
    }
    if (parts.empty()) {
        Emptier(shown, result).run(fd);
        return result;
    }
    const std::string &name = parts.back();
    where += '/' + name;
    struct stat st {};
    if (::fstatat(fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
        if (errno != ENOENT) {
            result.complete = false;
            result.failures.push_back(where + ": " + reason(errno));
        }
        ::close(fd);
        return result;
    }
    struct stat holder {};
    if (S_ISDIR(st.st_mode) && (::fstat(fd, &holder) != 0 || holder.st_dev != st.st_dev)) {
        result.complete = false;
        result.failures.push_back(where + ": another file system is mounted there; it stays");
    } else if (S_ISDIR(st.st_mode)) {
        const int child = ::openat(fd, name.c_str(), kFolderFlags);
        if (child < 0) {
            result.complete = false;
            result.failures.push_back(where + ": " + reason(errno));
            ::close(fd);
            return result;
        }
        Emptier(where, result).run(child);
        if (::unlinkat(fd, name.c_str(), AT_REMOVEDIR) != 0 && !(errno == ENOTEMPTY && !result.complete)) {
            result.complete = false;
            result.failures.push_back(where + ": " + reason(errno));
        }
    } else if (::unlinkat(fd, name.c_str(), 0) == 0) {
        result.freed += released(st);
    } else if (errno != ENOENT) {
        result.complete = false;
        result.failures.push_back(where + ": " + reason(errno));
    }
    ::close(fd);
    return result;
}
