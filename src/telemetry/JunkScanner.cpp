#include "JunkScanner.h"

#include "platform/DeletionGuard.h"
#include "platform/LocalPath.h"
#include "platform/TreeRemover.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <set>

namespace {
using Kind = FileTreeEntry::Kind;

// Blocks that deleting the items would give back: a file with several hard links counts
// once, and only when every one of its names is among the items.
struct ByteCounter
{
    struct Linked { std::uint64_t links = 0; std::uint64_t seen = 0; std::uint64_t bytes = 0; };
    std::uint64_t single = 0;
    std::map<std::pair<std::uint64_t, std::uint64_t>, Linked> linked;   // by device and inode: the roots may lie on different file systems

    void add(const FileTreeEntry &e)
    {
        if (e.kind != Kind::File && e.kind != Kind::Symlink)
            return;
        if (e.links <= 1 || e.kind == Kind::Symlink) {
            single += e.allocated;
            return;
        }
        Linked &file = linked[{e.device, e.inode}];
        file.links = e.links;
        file.bytes = e.allocated;
        ++file.seen;
    }

    std::uint64_t total() const
    {
        std::uint64_t sum = single;
        for (const auto &[id, file] : linked)
            if (file.seen >= file.links)
                sum += file.bytes;
        return sum;
    }
};
}

JunkScanner::JunkScanner(JunkRoots roots)
    : m_roots(std::move(roots))
{
}

JunkScan JunkScanner::scan() const
{
    JunkScan out;
    if (!m_roots.home.empty()) {
        const std::string trash = m_roots.home + "/.local/share/Trash";
        for (const char *part : {"/files", "/info", "/expunged"})
            scanWhole(trash + part, out);
        scanWhole(m_roots.home + "/.cache/thumbnails", out);
    }
    scanTmp(out);
    scanCrash(out);

    ByteCounter counter;
    for (const JunkScan::Item &item : out.items)
        counter.add(item.entry);
    out.bytes = counter.total();
    return out;
}

void JunkScanner::scanWhole(const std::string &root, JunkScan &out) const
{
    // The sweep never empties the folder a link leads to, so it never counts one either.
    if (FileTree::isLink(root))
        return;
    FileTree::walk(root, [&](const FileTreeEntry &e) { out.items.push_back({root, e}); });
}

void JunkScanner::scanTmp(JunkScan &out) const
{
    if (m_roots.tmp.empty())
        return;
    const std::int64_t now = m_roots.now > 0 ? m_roots.now : static_cast<std::int64_t>(std::time(nullptr));
    const std::int64_t cutoff = now - m_roots.tmpMinimumAge;
    auto stale = [&](const FileTreeEntry &e) { return e.owner == m_roots.uid && e.modified < cutoff; };

    for (const FileTreeEntry &child : FileTree::children(m_roots.tmp)) {
        // Sockets and pipes belong to running programs (ssh agents, tmux, X): a folder
        // holding one is in use however old its files look.
        if (child.kind == Kind::Other || !stale(child))
            continue;
        if (child.kind != Kind::Directory) {
            out.items.push_back({m_roots.tmp, child});
            continue;
        }
        std::vector<FileTreeEntry> inside;
        bool deletable = true;
        FileTree::walk(m_roots.tmp + '/' + child.relativePath, [&](const FileTreeEntry &e) {
            if (e.kind == Kind::Other || !stale(e) || e.device != child.device)
                deletable = false;
            inside.push_back(e);
        });
        if (!deletable)
            continue;
        for (FileTreeEntry &e : inside) {
            e.relativePath = child.relativePath + '/' + e.relativePath;
            out.items.push_back({m_roots.tmp, std::move(e)});
        }
        out.items.push_back({m_roots.tmp, child});
    }
}

void JunkScanner::scanCrash(JunkScan &out) const
{
    if (m_roots.crash.empty())
        return;
    for (const FileTreeEntry &child : FileTree::children(m_roots.crash))
        if (child.kind == Kind::File && child.owner == m_roots.uid)
            out.items.push_back({m_roots.crash, child});
}

std::uint64_t JunkScanner::clean(const JunkScan &scan, const DeletionGuard &guard)
{
    std::uint64_t freed = 0;
    // Each folder is opened once, as TreeRemover opens a deletion's base: a Trash that is a
    // link, or one reached through another account's link, is refused rather than emptied
    // where it leads.
    std::map<std::string, TreeRemover::Base> opened;
    const auto baseFor = [&opened](const std::string &root) {
        auto found = opened.find(root);
        if (found == opened.end()) {
            found = opened.emplace(root, TreeRemover::Base(root)).first;
            if (found->second.fd() < 0)
                say("Refusing to sweep " + root + ": " + found->second.error());
        }
        return found->second.fd();
    };
    // Folders that keep something the scan listed: their own deletion fails as a matter of course.
    std::set<std::string> keeping;
    const auto parentOf = [](const JunkScan::Item &item) {
        const size_t slash = item.entry.relativePath.rfind('/');
        return slash == std::string::npos ? item.root : item.root + '/' + item.entry.relativePath.substr(0, slash);
    };
    for (const JunkScan::Item &item : scan.items) {
        const QString root = LocalPath::decode(item.root);
        const QString path = LocalPath::decode(item.root + '/' + item.entry.relativePath);
        const int base = guard.item(path, {DeletionGuard::Root{root}}).allowed() ? baseFor(item.root) : -1;
        int error = 0;
        if (base >= 0 && FileTree::removeEntry(base, item.entry, freed, &error))
            continue;
        keeping.insert(parentOf(item));
        const std::string shown = item.root + '/' + item.entry.relativePath;
        if (error == ENOTEMPTY && !keeping.contains(shown))
            say("Left " + shown + ": it holds items the scan did not list");
        else if (error != 0 && error != ENOTEMPTY)
            say("Could not delete " + shown + ": " + std::strerror(error));
    }
    return freed;
}

void JunkScanner::say(const std::string &line)
{
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}
