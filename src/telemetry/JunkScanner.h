#pragma once

#include "platform/FileTree.h"

#include <cstdint>
#include <string>
#include <vector>

class DeletionGuard;

// The places the junk sweep may touch, and nothing else.
struct JunkRoots
{
    std::string home;                    // the user's home folder
    std::string tmp = "/tmp";
    std::string crash = "/var/crash";
    unsigned uid = 0;                    // whose files in tmp and crash count
    std::int64_t now = 0;                // seconds since 1970; 0: the current time
    std::int64_t tmpMinimumAge = 7 * 24 * 3600;
};

// What one scan found: each item with the folder it lies in, contents before folders, so
// deleting them in order empties each folder before it is removed.
struct JunkScan
{
    struct Item
    {
        std::string root;
        FileTreeEntry entry;
    };
    std::vector<Item> items;
    std::uint64_t bytes = 0;
};

// Finds deletable clutter: the user's Trash, the thumbnail cache, the user's own files in
// /tmp that nothing has modified for a week, and the user's crash reports. Scans and
// cleans never follow a link out of these folders. Both are plain functions of the file
// system, so they run on a worker thread.
class JunkScanner
{
public:
    explicit JunkScanner(JunkRoots roots);

    JunkScan scan() const;

    // Deletes exactly the items of `scan` that are still the same files and that `guard`
    // allows inside their folders; anything created or replaced since is left. Each failure
    // is printed as one line. Returns the bytes released.
    static std::uint64_t clean(const JunkScan &scan, const DeletionGuard &guard);

    const JunkRoots &roots() const { return m_roots; }

private:
    void scanWhole(const std::string &root, JunkScan &out) const;
    void scanTmp(JunkScan &out) const;
    void scanCrash(JunkScan &out) const;
    static void say(const std::string &line);

    JunkRoots m_roots;
};
