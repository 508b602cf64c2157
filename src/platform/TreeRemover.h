#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// Deletions made relative to folders held open, never through a path looked up again:
// the folder a deletion starts from is opened once, every folder below it is entered with
// O_NOFOLLOW, and items go with unlinkat on the folder that holds them. A folder swapped
// for a link while the deletion runs stops it there; nothing outside is reached.
class TreeRemover
{
public:
    struct Result
    {
        bool complete = true;               // nothing that was asked to go is left
        std::uint64_t freed = 0;            // bytes of blocks released
        std::vector<std::string> failures;  // one line per item left behind, and why
    };

    // Opens the folder `path` names, for deletions below it; -1 with `error` set when it
    // cannot be. Links on the way are followed only when root or this user owns them (a home
    // moved to another disk, /home leading to /var/home): another account's link is the way
    // a neighbour would aim a deletion at this user's files. `path` itself must not be a
    // link: emptying the folder a link leads to deletes whatever else lives there.
    // `canonical` receives the folder's path with every link resolved.
    static int openBase(const std::string &path, std::string &error, std::string *canonical = nullptr);

    // A folder openBase opened, closed when this goes; fd() is -1 and error() says why
    // when it could not be opened.
    class Base
    {
    public:
        explicit Base(const std::string &path) { m_fd = openBase(path, m_error); }
        Base(Base &&other) noexcept : m_error(std::move(other.m_error)), m_fd(std::exchange(other.m_fd, -1)) {}
        Base(const Base &) = delete;
        Base &operator=(const Base &) = delete;
        Base &operator=(Base &&) = delete;
        ~Base();
        int fd() const { return m_fd; }
        const std::string &error() const { return m_error; }

    private:
        std::string m_error;
        int m_fd = -1;
    };

    // Deletes the item at `relative` ('/'-separated, no "." or "..") below the folder open
    // as `base`, a folder with everything in it. An empty `relative` deletes everything
    // inside `base`, which stays. Nothing there is complete, with nothing freed. Any depth;
    // other file systems mounted inside are left, and said so. `shown` names `base` in the
    // failure lines.
    static Result remove(int base, const std::string &relative, const std::string &shown);

};
