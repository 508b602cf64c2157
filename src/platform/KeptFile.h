#pragma once

#include <string>

// A kernel text file read again every pass (/proc/stat, /proc/meminfo, a sysfs attribute).
// procfs and sysfs generate such a file afresh on every read from offset 0, so the
// descriptor stays open and each pass is one pread instead of open, read, read and close:
// on a virtual machine, where every system call is a trip through the hypervisor, that is
// most of what the sample costs.
//
// Files on any other file system (the fixture trees tests run on) are opened for each read
// as before, so one rewritten or replaced between passes is seen as it is now.
class KeptFile
{
public:
    explicit KeptFile(std::string path = {});
    ~KeptFile();
    KeptFile(KeptFile &&other) noexcept;
    KeptFile &operator=(KeptFile &&other) noexcept;
    KeptFile(const KeptFile &) = delete;
    KeptFile &operator=(const KeptFile &) = delete;

    const std::string &path() const { return m_path; }

    // Replaces `out` with the file's bytes. False when it cannot be opened or read (`out`
    // is then empty). A kept descriptor that fails (the device behind a sysfs file went
    // away) is closed and the path opened once more, so a device that comes back under the
    // same name is read again.
    bool read(std::string &out);

    // Whether a descriptor is being kept between reads.
    bool isKept() const { return m_fd >= 0; }

private:
    bool readOpen(int fd, std::string &out);
    void close();

    std::string m_path;
    int m_fd = -1;
    std::string m_page;   // read into, then copied out: growing the caller's string each pass would clear it first
};
