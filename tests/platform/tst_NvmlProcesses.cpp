// The per-process memory NVIDIA's library reports, through a stand-in library whose
// process lists the test sets: which generation of the call is used, how the two lists
// are merged, what "not available" becomes, and a list that grows while it is read.
#include "platform/NvmlLibrary.h"

#include <QTest>

#include <dlfcn.h>

#include <algorithm>
#include <vector>

namespace {
// The stand-in's controls, found in the same loaded copy the code under test uses.
struct FakeControls
{
    void *handle = nullptr;
    void (*setProcesses)(int, unsigned, const unsigned *, const unsigned long long *) = nullptr;
    void (*grow)(unsigned, int) = nullptr;
    int (*lastVersion)() = nullptr;
    unsigned (*calls)() = nullptr;

    explicit FakeControls(const char *path)
    {
        handle = ::dlopen(path, RTLD_NOW | RTLD_LOCAL);
        if (!handle)
            return;
        setProcesses = reinterpret_cast<decltype(setProcesses)>(::dlsym(handle, "fakeNvmlSetProcesses"));
        grow = reinterpret_cast<decltype(grow)>(::dlsym(handle, "fakeNvmlGrowOnRefusal"));
        lastVersion = reinterpret_cast<decltype(lastVersion)>(::dlsym(handle, "fakeNvmlLastProcessVersion"));
        calls = reinterpret_cast<decltype(calls)>(::dlsym(handle, "fakeNvmlProcessCalls"));
    }
    ~FakeControls()
    {
        if (handle)
            ::dlclose(handle);
    }
    bool ok() const { return setProcesses && grow && lastVersion && calls; }

    void set(int list, const std::vector<std::pair<unsigned, unsigned long long>> &entries) const
    {
        std::vector<unsigned> pids;
        std::vector<unsigned long long> used;
        for (const auto &[pid, bytes] : entries) {
            pids.push_back(pid);
            used.push_back(bytes);
        }
        setProcesses(list, static_cast<unsigned>(pids.size()), pids.data(), used.data());
    }
};

constexpr unsigned long long kNotAvailable = ~0ull;
constexpr unsigned long long GiB = 1ull << 30;

const NvmlProcessMemory *find(const std::vector<NvmlProcessMemory> &list, unsigned pid)
{
    const auto it = std::find_if(list.begin(), list.end(), [pid](const auto &p) { return p.pid == pid; });
    return it == list.end() ? nullptr : &*it;
}
}

class TestNvmlProcesses : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // The current driver: the _v3 calls are used, a process in both lists is one process
    // with its one figure, and "not available" stays unknown rather than 16 EiB or zero.
    void currentDriverMergesBothLists()
    {
        FakeControls fake(FAKE_NVML_PATH);
        QVERIFY(fake.ok());
        fake.grow(0, 0);
        fake.set(0, {{4100, 6 * GiB}, {4200, kNotAvailable}, {4300, 512ull << 20}});
        fake.set(1, {{4300, 512ull << 20}, {2000, 180ull << 20}});

        const NvmlLibrary nvml(FAKE_NVML_PATH);
        QCOMPARE(nvml.processCallVersion(), 3);
        const auto processes = nvml.processes();
        QVERIFY(processes);
        QCOMPARE(fake.lastVersion(), 3);
        QCOMPARE(processes->size(), size_t(4));   // 4300 once, though in both lists
        for (unsigned pid : {4100u, 4200u, 4300u, 2000u})
            QVERIFY2(find(*processes, pid), qPrintable(QString::number(pid)));

        QCOMPARE(find(*processes, 4100)->usedBytes.value_or(0), 6 * GiB);
        QVERIFY(!find(*processes, 4200)->usedBytes);
        QCOMPARE(find(*processes, 4300)->usedBytes.value_or(0), 512ull << 20);
        QCOMPARE(find(*processes, 2000)->usedBytes.value_or(0), 180ull << 20);

        // A figure known in one list fills in the unknown one of the other.
        fake.set(0, {{4200, kNotAvailable}});
        fake.set(1, {{4200, 64ull << 20}});
        QCOMPARE(find(*nvml.processes(), 4200)->usedBytes.value_or(0), 64ull << 20);

        // Nobody on the GPU is a list, empty, not "cannot tell".
        fake.set(0, {});
        fake.set(1, {});
        const auto none = nvml.processes();
        QVERIFY(none);
        QVERIFY(none->empty());
    }

    // A driver from before the _v2 calls: the older, shorter struct is read as such. Read
    // with the newer layout, the second pid and every figure would come out wrong.
    void legacyDriverUsesTheShortStruct()
    {
        FakeControls fake(FAKE_NVML_LEGACY_PATH);
        QVERIFY(fake.ok());
        fake.grow(0, 0);
        fake.set(0, {{31, 3 * GiB}, {32, 5 * GiB}, {33, kNotAvailable}});
        fake.set(1, {});

        const NvmlLibrary nvml(FAKE_NVML_LEGACY_PATH);
        QCOMPARE(nvml.processCallVersion(), 1);
        const auto processes = nvml.processes();
        QVERIFY(processes);
        QCOMPARE(fake.lastVersion(), 1);
        QCOMPARE(processes->size(), size_t(3));
        for (unsigned pid : {31u, 32u, 33u})
            QVERIFY2(find(*processes, pid), qPrintable(QString::number(pid)));
        QCOMPARE(find(*processes, 31)->usedBytes.value_or(0), 3 * GiB);
        QCOMPARE(find(*processes, 32)->usedBytes.value_or(0), 5 * GiB);
        QVERIFY(!find(*processes, 33)->usedBytes);
    }

    // More processes than the first guess, and more again starting between the calls:
    // each refusal's count is taken and the list read whole. One that never stops growing
    // is given up on after a bounded number of calls, as unknown.
    void listGrowingBetweenCalls()
    {
        FakeControls fake(FAKE_NVML_PATH);
        QVERIFY(fake.ok());
        std::vector<std::pair<unsigned, unsigned long long>> many;
        for (unsigned pid = 1000; pid < 1020; ++pid)
            many.emplace_back(pid, 100ull << 20);
        fake.set(0, many);
        fake.set(1, {});
        fake.grow(12, 2);   // 12 more after each of the first two refusals: beyond the slack

        const NvmlLibrary nvml(FAKE_NVML_PATH);
        const unsigned before = fake.calls();
        const auto processes = nvml.processes();
        QVERIFY(processes);
        QCOMPARE(processes->size(), size_t(20 + 12 + 12));
        QVERIFY(find(*processes, 1019));
        QCOMPARE(find(*processes, 1019)->usedBytes.value_or(0), 100ull << 20);
        QVERIFY(fake.calls() - before >= 3);

        fake.grow(50, -1);
        const unsigned start = fake.calls();
        QVERIFY(!nvml.processes());
        QVERIFY2(fake.calls() - start <= 8, "the retries are bounded");
        fake.grow(0, 0);
    }

    // No library, or no GPU behind it: nothing to list, and nothing pretends otherwise.
    void nothingWithoutTheLibrary()
    {
        const NvmlLibrary missing("/nonexistent/libnvidia-ml.so.1");
        QVERIFY(!missing.processes());
        QCOMPARE(missing.processCallVersion(), 0);
        const NvmlLibrary none{std::string()};
        QVERIFY(!none.processes());
    }
};

QTEST_GUILESS_MAIN(TestNvmlProcesses)
#include "tst_NvmlProcesses.moc"
