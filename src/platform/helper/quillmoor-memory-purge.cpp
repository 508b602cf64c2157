// Runs as root (through pkexec): writes back dirty pages, drops the clean page cache,
// dentries and inodes, and compacts free memory. It takes no arguments and reads no
// environment, so the privilege it is given cannot be steered elsewhere.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {
int writeKnob(const char *path, const char *value)
{
    const int fd = ::open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return errno;
    const ssize_t n = ::write(fd, value, std::strlen(value));
    const int error = n < 0 ? errno : 0;
    ::close(fd);
    return error;
}
}

int main(int argc, char **)
{
    if (argc != 1) {
        std::fprintf(stderr, "usage: quillmoor-memory-purge (no arguments)\n");
        return 2;
    }
    if (::geteuid() != 0) {
        std::fprintf(stderr, "Purging memory needs administrator rights.\n");
        return 3;
    }
    ::sync();
    if (const int error = writeKnob("/proc/sys/vm/drop_caches", "3")) {
        std::fprintf(stderr, "The kernel refused to drop its caches: %s\n", std::strerror(error));
        return 1;
    }
    // Kernels built without compaction have no such knob; dropping the caches is the work.
    writeKnob("/proc/sys/vm/compact_memory", "1");
    return 0;
}
