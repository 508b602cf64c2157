#include "caches/BuildCacheService.h"
#include "localai/LocalAIService.h"
#include "platform/LocalPath.h"
#include "platform/SocketTableReader.h"
#include "support/FixtureTree.h"
#include "support/ProcNetTcp.h"

#include <QProcess>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

#include <tuple>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
template<typename Step>
void await(Step step)
{
    bool finished = false;
    step([&finished] { finished = true; });
    QTRY_VERIFY_WITH_TIMEOUT(finished, 10000);
}

// An executable shell script that appends its arguments to `log` and prints `output`.
void writeTool(const FixtureTree &tree, const QString &name, const QByteArray &output, const QString &log)
{
    tree.write("bin/" + name, "#!/bin/sh\necho \"" + name.toUtf8() + " $*\" >> '" + log.toUtf8() + "'\nprintf '%s' '" + output + "'\n");
    QFile::setPermissions(tree.path("bin/" + name), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

QByteArray tcpLine(int slot, const char *local, const char *remote, const char *state, unsigned long inode, unsigned uid = 1000)
{
    return ProcNetTcp::line(slot, local, remote, state, inode, uid);
}

const QByteArray kHeader = ProcNetTcp::kHeader;

void makeSparse(const QString &path, qint64 size)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QVERIFY(f.resize(size));
}
}

class TestWorkspaceScanners : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void parsesContainerLines()
    {
        const QList<VectorDatabaseInfo> rows = LocalAIService::parseContainers(
            "abc123|my-qdrant-db|0.0.0.0:6333->6333/tcp\n"
            "\n"
            "def456|weaviate-two-parts\n"
            "0a1|ChromaDB|8000\n"
            "0a2|qdrant-chroma|x\n"
            "0a3|milvus-standalone|\n"
            "0a4|postgres|5432\n");
        QCOMPARE(rows.size(), 3);
        QCOMPARE(rows[0].name, QStringLiteral("my-qdrant-db"));
        QCOMPARE(rows[0].containerId, QStringLiteral("abc123"));
        QCOMPARE(rows[0].port, 6333);
        QCOMPARE(rows[0].memoryUsage, QStringLiteral("128 MB"));
        QCOMPARE(rows[0].status, QStringLiteral("Running"));
        QCOMPARE(rows[1].port, 8000);   // chroma wins over qdrant
        QCOMPARE(rows[2].port, 8080);
        QVERIFY(LocalAIService::parseContainers("a|chroma\xff|b\n").isEmpty());   // not UTF-8
    }

    // The container tool is looked up on the search path; without one, or with nothing
    // recognised, the sample pair shows, whatever the demo switch says.
    void containerScanUsesToolOnPath()
    {
        FixtureTree tree;
        const QString log = tree.path("calls.log");
        LocalAISources sources;
        sources.searchPath = QStringList{tree.path("bin")};
        LocalAIService service(sources, LocalAIService::Polling::Manual);
        service.setDemoMode(false);

        await([&](auto done) { service.scanVectorDatabases(done); });
        QCOMPARE(service.activeVectorDBs(), LocalAIService::sampleVectorDatabases());

        writeTool(tree, QStringLiteral("docker"), "c1|chroma-dev|8000\\n", log);
        await([&](auto done) { service.scanVectorDatabases(done); });
        QCOMPARE(service.activeVectorDBs().size(), 1);
        QCOMPARE(service.activeVectorDBs()[0].containerId, QStringLiteral("c1"));
        QFile calls(log);
        QVERIFY(calls.open(QIODevice::ReadOnly));
        QCOMPARE(calls.readAll(), QByteArray("docker ps --format {{.ID}}|{{.Names}}|{{.Ports}}\n"));

        // Stopping one relists.
        await([&](auto done) { service.stopVectorDatabase(QStringLiteral("c1"), done); });
        calls.seek(0);
        QVERIFY(calls.readAll().contains("docker stop c1\ndocker ps"));
    }

    // A container tool refused by its daemon is asked again after 4, 8, 16 … at most 300
    // seconds; one with no daemon at all after 300 seconds or once the daemon's socket
    // appears. The list meanwhile is what a failed run gives; once the tool answers,
    // every pass asks again.
    void failingContainerToolBacksOff()
    {
        FixtureTree tree;
        const QString log = tree.path("calls.log");
        tree.write("bin/docker", "#!/bin/sh\necho x >> '" + log.toUtf8() + "'\n[ -e '" + tree.path("up").toUtf8()
                                     + "' ] && printf 'c1|qdrant-1|6333\\n' && exit 0\necho 'Cannot connect' >&2\nexit 1\n");
        QFile::setPermissions(tree.path("bin/docker"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QDateTime clock = QDateTime::fromSecsSinceEpoch(1'700'000'000);
        LocalAISources sources;
        sources.searchPath = QStringList{tree.path("bin")};
        sources.now = [&clock] { return clock; };
        sources.dockerSocket = tree.path("docker.sock");
        tree.write("docker.sock", "");   // a daemon that refuses this user
        LocalAIService service(sources, LocalAIService::Polling::Manual);
        service.setDemoMode(false);
        const auto runs = [&] {
            QFile calls(log);
            return calls.open(QIODevice::ReadOnly) ? calls.readAll().count('\n') : 0;
        };
        const auto pollAfter = [&](int seconds) {
            clock = clock.addSecs(seconds);
            await([&](auto done) { service.pollVectorDatabases(done); });
        };

        pollAfter(0);
        QCOMPARE(runs(), 1);
        QCOMPARE(service.activeVectorDBs(), LocalAIService::sampleVectorDatabases());
        pollAfter(3);
        QCOMPARE(runs(), 1);   // 4 s have not passed
        pollAfter(1);
        QCOMPARE(runs(), 2);
        pollAfter(7);
        QCOMPARE(runs(), 2);   // now 8 s
        pollAfter(1);
        QCOMPARE(runs(), 3);
        for (int wait : {16, 32, 64, 128, 256, 300, 300})
            pollAfter(wait);
        QCOMPARE(runs(), 10);   // capped at 300 s
        pollAfter(299);
        QCOMPARE(runs(), 10);
        QCOMPARE(service.activeVectorDBs(), LocalAIService::sampleVectorDatabases());

        // Answering: no wait.
        tree.write("up", "");
        pollAfter(1);
        QCOMPARE(runs(), 11);
        QCOMPARE(service.activeVectorDBs().size(), 1);
        QCOMPARE(service.activeVectorDBs()[0].name, QStringLiteral("qdrant-1"));
        pollAfter(0);
        QCOMPARE(runs(), 12);

        // No daemon: the full wait at once, cut short by the daemon starting.
        QFile::remove(tree.path("up"));
        QFile::remove(tree.path("docker.sock"));
        pollAfter(0);
        QCOMPARE(runs(), 13);
        pollAfter(299);
        QCOMPARE(runs(), 13);
        tree.write("docker.sock", "");
        pollAfter(0);
        QCOMPARE(runs(), 14);
        // That try failed with the socket there: no news until the doubled wait is over.
        pollAfter(0);
        QCOMPARE(runs(), 14);
        // An explicit scan never waits.
        await([&](auto done) { service.scanVectorDatabases(done); });
        QCOMPARE(runs(), 15);
    }

    void parsesSocketTables()
    {
        const QByteArray v4 = kHeader
            + tcpLine(0, "0100007F:2CAA", "00000000:0000", "0A", 5001)    // 127.0.0.1:11434 LISTEN
            + tcpLine(1, "00000000:1538", "00000000:0000", "0A", 5002)    // *:5432
            + tcpLine(2, "0100007F:2CAA", "0100007F:D431", "01", 5003)    // established
            + "3: garbage\n";
        const std::vector<SocketEntry> sockets = SocketTableReader::parse(v4.toStdString(), false);
        QCOMPARE(sockets.size(), size_t(3));
        QCOMPARE(QString::fromStdString(sockets[0].localAddress), QStringLiteral("127.0.0.1"));
        QCOMPARE(sockets[0].localPort, 11434);
        QCOMPARE(sockets[0].state, SocketEntry::kListen);
        QCOMPARE(sockets[0].inode, 5001u);
        QCOMPARE(sockets[0].uid, 1000u);
        QCOMPARE(QString::fromStdString(sockets[1].localAddress), QStringLiteral("0.0.0.0"));
        QCOMPARE(sockets[2].remotePort, 54321);

        const QByteArray v6 = kHeader + tcpLine(0, "00000000000000000000000001000000:2CAA", "00000000000000000000000000000000:0000", "0A", 6001);
        const std::vector<SocketEntry> six = SocketTableReader::parse(v6.toStdString(), true);
        QCOMPARE(six.size(), size_t(1));
        QCOMPARE(QString::fromStdString(six[0].localAddress), QStringLiteral("::1"));

        // One row a listener: the IPv6 line on 11434 is another server than the IPv4
        // one, and each keeps its address and owner; unseen owners read "?".
        std::vector<SocketEntry> all = sockets;
        all.insert(all.end(), six.begin(), six.end());
        const std::unordered_map<std::uint64_t, int> owners{{5001, 700}, {6001, 701}};
        const QList<LocalPortInfo> ports = LocalAIService::listeningPorts(all, owners, [](int pid) {
            return pid == 701 ? QStringLiteral("ollama") : pid == 700 ? QStringLiteral("llama-server") : QString();
        });
        QCOMPARE(ports.size(), 3);
        QCOMPARE(ports[0].port, 5432);
        QCOMPARE(ports[0].address, QStringLiteral("0.0.0.0"));
        QCOMPARE(ports[0].pid, 0);
        QCOMPARE(ports[0].processName, QStringLiteral("?"));
        QCOMPARE(ports[1], (LocalPortInfo{11434, QStringLiteral("llama-server"), 700, QStringLiteral("127.0.0.1")}));
        QCOMPARE(ports[2], (LocalPortInfo{11434, QStringLiteral("ollama"), 701, QStringLiteral("::1")}));
        QCOMPARE(ports[1].id(), QStringLiteral("11434-127.0.0.1-700"));
        QVERIFY(ports[1].id() != ports[2].id());
        const QMetaProperty address = LocalPortInfo::staticMetaObject.property(LocalPortInfo::staticMetaObject.indexOfProperty("address"));
        QCOMPARE(address.readOnGadget(&ports[2]).toString(), QStringLiteral("::1"));
    }

    // Two processes listening on one port number, one on 127.0.0.1 and one on ::1, as
    // the kernel's tables list them: two rows.
    void listenersSharingAPortAreEachARow()
    {
        FixtureTree tree;
        tree.write("proc/net/tcp", kHeader + tcpLine(0, ProcNetTcp::endpoint(QStringLiteral("127.0.0.1"), 8080).constData(),
                                                     "00000000:0000", "0A", 801));
        tree.write("proc/net/tcp6", kHeader + tcpLine(0, ProcNetTcp::endpoint(QStringLiteral("::1"), 8080).constData(),
                                                      "00000000000000000000000000000000:0000", "0A", 802));
        for (const auto &[pid, name, inode] : {std::tuple{51, "python3", 801}, std::tuple{52, "node", 802}}) {
            tree.write(QStringLiteral("proc/%1/comm").arg(pid), QByteArray(name) + '\n');
            tree.mkdir(QStringLiteral("proc/%1/fd").arg(pid));
            QVERIFY(QFile::link(QStringLiteral("socket:[%1]").arg(inode), tree.path(QStringLiteral("proc/%1/fd/3").arg(pid))));
        }
        LocalAISources sources;
        sources.procRoot = tree.root("proc");
        LocalAIService service(sources, LocalAIService::Polling::Manual);
        service.setDemoMode(false);
        await([&](auto done) { service.scanLocalPorts(done); });
        QCOMPARE(service.activeLocalPorts(), (QList<LocalPortInfo>{
                                                 LocalPortInfo{8080, QStringLiteral("python3"), 51, QStringLiteral("127.0.0.1")},
                                                 LocalPortInfo{8080, QStringLiteral("node"), 52, QStringLiteral("::1")}}));
    }

    void portScanFindsOwnListenerAndOwnersInFixture()
    {
        QTcpServer listener;
        QVERIFY(listener.listen(QHostAddress::LocalHost, 0));
        LocalAIService service({}, LocalAIService::Polling::Manual);
        service.setDemoMode(false);
        await([&](auto done) { service.scanLocalPorts(done); });
        bool found = false;
        int previous = -1;
        for (const LocalPortInfo &row : service.activeLocalPorts()) {
            QVERIFY(row.port >= previous);   // a port on both families is two rows
            previous = row.port;
            if (row.port == listener.serverPort()) {
                found = true;
                QCOMPARE(row.pid, int(::getpid()));
                QCOMPARE(row.processName, QStringLiteral("tst_workspace_s"));   // comm: 15 bytes
            }
        }
        QVERIFY(found);

        // Owners through fd links in a fixture tree.
        FixtureTree tree;
        tree.write("proc/net/tcp", kHeader + tcpLine(0, "0100007F:0BB8", "00000000:0000", "0A", 777));
        tree.write("proc/42/comm", "node\n");
        tree.mkdir("proc/42/fd");
        QVERIFY(QFile::link(QStringLiteral("socket:[777]"), tree.path("proc/42/fd/5")));
        QVERIFY(QFile::link(QStringLiteral("/dev/null"), tree.path("proc/42/fd/0")));
        LocalAISources sources;
        sources.procRoot = tree.root("proc");
        LocalAIService fixture(sources, LocalAIService::Polling::Manual);
        fixture.setDemoMode(false);
        await([&](auto done) { fixture.scanLocalPorts(done); });
        QCOMPARE(fixture.activeLocalPorts(), (QList<LocalPortInfo>{LocalPortInfo{3000, QStringLiteral("node"), 42, QStringLiteral("127.0.0.1")}}));
    }

    void demoScansFillOnlyEmptyLists()
    {
        LocalAIService service({}, LocalAIService::Polling::Manual);
        await([&](auto done) { service.scanLocalPorts(done); });
        QCOMPARE(service.activeLocalPorts(), LocalAIService::samplePorts());
        QCOMPARE(service.activeLocalPorts()[0].port, 11434);
        await([&](auto done) { service.killProcessOnPort(82955, done); });
        QCOMPARE(service.activeLocalPorts().size(), 4);
        for (const LocalPortInfo &row : service.activeLocalPorts())
            QVERIFY(row.processName != QStringLiteral("uvicorn (python)"));
        await([&](auto done) { service.scanLocalPorts(done); });
        QCOMPARE(service.activeLocalPorts().size(), 4);

        await([&](auto done) { service.scanModelCache(done); });
        QCOMPARE(service.cachedModelFiles(), LocalAIService::sampleModelFiles());
        await([&](auto done) { service.purgeModelCacheFile(LocalAIService::sampleModelFiles()[0].path, done); });
        QCOMPARE(service.cachedModelFiles().size(), 3);

        service.scanOrphanedCompanions();
        QCOMPARE(service.orphanedAICompanions(), LocalAIService::sampleCompanions());
        service.setDemoMode(false);
        service.scanOrphanedCompanions();
        QVERIFY(service.orphanedAICompanions().isEmpty());
    }

    void modelCacheThresholdsAndOrder()
    {
        FixtureTree tree;
        const QString blobs = tree.path("home/.ollama/models/blobs");
        const QString hub = tree.path("home/.cache/huggingface/hub");
        makeSparse(blobs + "/sha256-at-limit", 50'000'000);
        makeSparse(blobs + "/sha256-over", 50'000'001);
        makeSparse(blobs + "/sha256-big", 60'000'000);
        makeSparse(blobs + "/.partial", 70'000'000);
        makeSparse(hub + "/models--a/blobs/w1", 10'000'001);
        makeSparse(hub + "/models--a/blobs/w2", 10'000'000);
        makeSparse(hub + "/.locks/big", 90'000'000);
        QVERIFY(QFile::link(blobs + "/sha256-big", hub + "/models--a/snapshots-link"));

        const QList<ModelCacheFile> files = LocalAIService::findModelFiles({blobs, tree.path("missing")}, hub);
        QCOMPARE(files.size(), 3);
        QCOMPARE(files[0].name, QStringLiteral("sha256-big"));
        QCOMPARE(files[0].type, QStringLiteral("Ollama"));
        QCOMPARE(files[0].path, blobs + "/sha256-big");
        QCOMPARE(files[1].size, 50'000'001);
        QCOMPARE(files[2].name, QStringLiteral("w1"));
        QCOMPARE(files[2].type, QStringLiteral("HuggingFace"));
    }

    // Deletion is confined to the cache folders, whatever path it is handed.
    void purgeDeletesOnlyInsideTheCaches()
    {
        FixtureTree tree;
        const QString blobs = tree.path("home/.ollama/models/blobs");
        const QString hub = tree.path("hub");
        makeSparse(blobs + "/sha256-a", 60'000'000);
        makeSparse(hub + "/models--x/blobs/weights", 20'000'000);
        tree.write("home/Documents/thesis.tex", "precious");
        QVERIFY(QFile::link(tree.path("home/Documents/thesis.tex"), blobs + "/link-out"));
        QVERIFY(QFile::link(blobs + "/sha256-a", hub + "/link-in"));
        const QStringList roots{blobs, hub};

        const auto refused = [&](const QString &path) { return !LocalAIService::deletableLocation(path, roots); };
        QVERIFY(refused(tree.path("home/Documents/thesis.tex")));
        QVERIFY(refused(blobs + "/../../../Documents/thesis.tex"));
        QVERIFY(refused(blobs + "/link-out"));
        QVERIFY(refused(blobs));
        QVERIFY(refused(blobs + "/"));
        QVERIFY(refused(blobs + "/."));
        QVERIFY(refused(hub + "/models--x/.."));
        QVERIFY(refused(QStringLiteral("relative/sha256-a")));
        QVERIFY(refused(blobs + "/does-not-exist"));
        QCOMPARE(*LocalAIService::deletableLocation(blobs + "/../blobs/sha256-a", roots), blobs + "/sha256-a");
        QCOMPARE(*LocalAIService::deletableLocation(hub + "/link-in", roots), hub + "/link-in");

        LocalAISources sources;
        sources.homePath = tree.path("home");
        sources.ollamaBlobDirs = QStringList{blobs};
        sources.huggingFaceHub = hub;
        LocalAIService service(sources, LocalAIService::Polling::Manual);
        service.setDemoMode(false);
        QSignalSpy lines(&service, &LocalAIService::logged);
        await([&](auto done) { service.purgeModelCacheFile(blobs + "/link-out", done); });
        QCOMPARE(lines.count(), 1);
        QVERIFY(lines[0][0].toString().startsWith(QStringLiteral("Refusing to delete ")));
        QVERIFY(QFileInfo::exists(tree.path("home/Documents/thesis.tex")));
        QVERIFY(QFileInfo(blobs + "/link-out").isSymLink());

        // A link inside goes as a link; a folder goes with its contents; the list follows.
        await([&](auto done) { service.purgeModelCacheFile(hub + "/link-in", done); });
        QVERIFY(QFileInfo::exists(blobs + "/sha256-a"));
        QVERIFY(!QFileInfo(hub + "/link-in").isSymLink());
        await([&](auto done) { service.purgeModelCacheFile(hub + "/models--x", done); });
        QVERIFY(!QFileInfo::exists(hub + "/models--x"));
        QVERIFY(QFileInfo::exists(hub));
        QCOMPARE(service.cachedModelFiles().size(), 1);
        QCOMPARE(service.cachedModelFiles()[0].path, blobs + "/sha256-a");

        // A file whose name is not UTF-8 is listed by a name that finds it again, and goes.
        const QByteArray odd = LocalPath::encode(hub) + "/gguf-\xff\xfe.bin";
        const int fd = ::open(odd.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        QVERIFY(fd >= 0);
        QCOMPARE(::ftruncate(fd, 20'000'000), 0);
        ::close(fd);
        const QList<ModelCacheFile> found = LocalAIService::findModelFiles({blobs}, hub);
        QCOMPARE(found.size(), 2);
        const QString listed = found[1].path;
        QCOMPARE(LocalPath::encode(listed), odd);
        lines.clear();
        await([&](auto done) { service.purgeModelCacheFile(listed, done); });
        QCOMPARE(lines.count(), 0);
        struct stat st {};
        QCOMPARE(::lstat(odd.constData(), &st), -1);
        QCOMPARE(service.cachedModelFiles().size(), 1);
    }

    // The model list and the cache figure read OLLAMA_MODELS by one rule, so they always
    // look at the same folder: quotes stripped, a relative value ignored for the default.
    void modelListAndCacheFigureReadOneFolder()
    {
        FixtureTree tree;
        const QString home = tree.path("home");
        const QByteArray saved = qgetenv("OLLAMA_MODELS");
        const bool wasSet = qEnvironmentVariableIsSet("OLLAMA_MODELS");
        const QList<QPair<QByteArray, QString>> cases{
            {"", home + "/.ollama/models"},
            {"models", home + "/.ollama/models"},
            {"./store/../models", home + "/.ollama/models"},
            {"\"" + tree.path("store").toUtf8() + "/\"", tree.path("store")},
            {" '" + tree.path("store").toUtf8() + "' ", tree.path("store")},
        };
        for (const auto &[value, expected] : cases) {
            qputenv("OLLAMA_MODELS", value);
            LocalAISources sources;
            sources.homePath = home;
            const LocalAIService models(sources, LocalAIService::Polling::Manual);
            BuildCacheSources cacheSources;
            cacheSources.homePath = home;
            const BuildCacheService caches(cacheSources, BuildCacheService::Polling::Manual);
            QCOMPARE(caches.ollamaModelsPath(), expected);
            QCOMPARE(models.ollamaBlobDirs().value(0), expected + "/blobs");
        }
        if (wasSet)
            qputenv("OLLAMA_MODELS", saved);
        else
            qunsetenv("OLLAMA_MODELS");
    }

    // A hub variable set to "/" makes every path "inside a model folder"; the home folder
    // and the folders above it still never go.
    void aModelFolderAtTheRootStillSparesTheHome()
    {
        FixtureTree tree;
        tree.write("home/Documents/thesis.tex", "precious");
        LocalAISources sources;
        sources.homePath = tree.path("home");
        sources.ollamaBlobDirs = QStringList{};
        sources.huggingFaceHub = QStringLiteral("/");
        LocalAIService service(sources, LocalAIService::Polling::Manual);
        service.setDemoMode(false);
        QSignalSpy lines(&service, &LocalAIService::logged);
        await([&](auto done) { service.purgeModelCacheFile(tree.path("home"), done); });
        await([&](auto done) { service.purgeModelCacheFile(tree.path(), done); });
        QCOMPARE(lines.count(), 2);
        QVERIFY(lines[0][0].toString().contains(QStringLiteral("home folder")));
        QVERIFY(QFileInfo::exists(tree.path("home/Documents/thesis.tex")));
        QVERIFY(!LocalAIService::deletableLocation(QDir::homePath(), {QStringLiteral("/")}));
    }

    void getPIDsMatchesWholeNames()
    {
        FixtureTree tree;
        const auto stat = [](int pid, const QByteArray &comm) {
            return QByteArray::number(pid) + " (" + comm + ") S 1 1 1 0 -1 0 0 0 0 0 1 1 0 0 20 0 1 0 100 0 0\n";
        };
        tree.write("proc/123/stat", stat(123, "ollama"));
        tree.write("proc/456/stat", stat(456, "ollama"));
        tree.write("proc/457/stat", stat(457, "ollama-helper"));
        tree.write("proc/600/stat", stat(600, "ollama_llama_se"));
        QVERIFY(QFile::link(QStringLiteral("/opt/ollama/lib/ollama_llama_server"), tree.path("proc/600/exe")));
        tree.write("proc/601/stat", stat(601, "ollama_llama_se"));
        QVERIFY(QFile::link(QStringLiteral("/opt/other/ollama_llama_sentinel"), tree.path("proc/601/exe")));
        LocalAISources sources;
        sources.procRoot = tree.root("proc");
        LocalAIService service(sources, LocalAIService::Polling::Manual);
        QCOMPARE(service.getPIDs({QStringLiteral("ollama"), QStringLiteral("llama-runner")}), (QList<int>{123, 456}));
        QCOMPARE(service.getPIDs(LocalAIService::localAIProcessNames()), (QList<int>{123, 456, 600}));
    }
};

QTEST_GUILESS_MAIN(TestWorkspaceScanners)
#include "tst_WorkspaceScanners.moc"
