// Sizing a cache folder: our walk beside `du -sb` on the same generated tree, in one run.
// The tree has 200,000 files in 20,000 folders; both sides run warm (after one untimed
// round each), alternating, and the medians are compared.
//
//   bench_cache_walk [folder]    (default: a new folder under $TMPDIR or /tmp, removed after)

#include "platform/FileTree.h"
#include "platform/TreeRemover.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {
constexpr int kTopFolders = 20;
constexpr int kFoldersEach = 1000;   // 20,000 leaf folders
constexpr int kFilesEach = 10;       // 200,000 files
constexpr int kRounds = 7;

std::uint64_t generate(const std::string &root)
{
    std::uint64_t total = 0;
    unsigned seed = 12345;
    ::mkdir(root.c_str(), 0755);
    for (int t = 0; t < kTopFolders; ++t) {
        const std::string top = root + "/t" + std::to_string(t);
        ::mkdir(top.c_str(), 0755);
        for (int f = 0; f < kFoldersEach; ++f) {
            const std::string folder = top + "/f" + std::to_string(f);
            ::mkdir(folder.c_str(), 0755);
            for (int i = 0; i < kFilesEach; ++i) {
                seed = seed * 1103515245u + 12345u;
                const off_t size = static_cast<off_t>((seed >> 8) % 65536);
                const std::string file = folder + "/" + std::to_string(i) + ".bin";
                const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
                if (fd < 0 || ::ftruncate(fd, size) != 0) {
                    std::perror(file.c_str());
                    std::exit(1);
                }
                ::close(fd);
                total += static_cast<std::uint64_t>(size);
            }
        }
    }
    return total;
}

double timeDu(const std::string &root)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    const char *argv[] = {"du", "-sb", root.c_str(), nullptr};
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawnp(&pid, "du", &actions, nullptr, const_cast<char **>(argv), environ) != 0) {
        std::fprintf(stderr, "du could not be started\n");
        std::exit(1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    const auto end = std::chrono::steady_clock::now();
    posix_spawn_file_actions_destroy(&actions);
    return std::chrono::duration<double, std::milli>(end - start).count();
}

double timeWalk(const std::string &root, std::uint64_t &total)
{
    const auto start = std::chrono::steady_clock::now();
    total = FileTree::visibleSize(root);
    const auto end = std::chrono::steady_clock::now();
    return std::chrono::duration<double, std::milli>(end - start).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}
}

int main(int argc, char **argv)
{
    std::string root;
    bool owned = false;
    if (argc > 1) {
        root = argv[1];
    } else {
        const char *tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/quillmoor-cache-walk-XXXXXX";
        if (!::mkdtemp(pattern.data())) {
            std::perror("mkdtemp");
            return 1;
        }
        root = pattern + "/tree";
        owned = true;
    }
    std::printf("Generating %d files in %d folders under %s...\n", kTopFolders * kFoldersEach * kFilesEach,
                kTopFolders * kFoldersEach, root.c_str());
    std::fflush(stdout);
    const std::uint64_t expected = generate(root);

    std::uint64_t total = 0;
    timeDu(root);          // warm the caches for both
    timeWalk(root, total);
    std::vector<double> du, walk;
    for (int round = 0; round < kRounds; ++round) {
        du.push_back(timeDu(root));
        walk.push_back(timeWalk(root, total));
    }
    const double duMedian = median(du);
    const double walkMedian = median(walk);
    std::printf("%-22s %10s\n", "", "median ms");
    std::printf("%-22s %10.1f\n", "du -sb", duMedian);
    std::printf("%-22s %10.1f\n", "FileTree::visibleSize", walkMedian);
    std::printf("ratio walk / du: %.2f (target <= 1.20)\n", walkMedian / duMedian);
    std::printf("bytes counted: %llu, generated: %llu%s\n", static_cast<unsigned long long>(total),
                static_cast<unsigned long long>(expected), total == expected ? "" : "  MISMATCH");

    if (owned) {
        if (const TreeRemover::Base base(root); base.fd() >= 0)
            TreeRemover::remove(base.fd(), {}, root);
        ::rmdir(root.c_str());
        ::rmdir(root.substr(0, root.rfind('/')).c_str());
    }
    return total == expected ? 0 : 1;
}
