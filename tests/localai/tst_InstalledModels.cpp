// The installed models as Ollama's /api/tags lists them: the decoder, reads from a loopback
// server that answers well, badly, with an error or too slowly, the pace of the reads in
// the service's passes, the verdicts following memory and the loaded models, and the demo.

#include "localai/LocalAIService.h"
#include "OllamaTags.h"
#include "support/FakeHttpServer.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

namespace {
template<typename Step>
void await(Step step, int timeoutMs = 5000)
{
    bool finished = false;
    step([&finished] { finished = true; });
    QTRY_VERIFY_WITH_TIMEOUT(finished, timeoutMs);
}

QStringList field(const QList<InstalledModel> &rows, QString InstalledModel::*member)
{
    QStringList out;
    for (const InstalledModel &row : rows)
        out << row.*member;
    return out;
}

int tagReads(const FakeHttpServer &server)
{
    int n = 0;
    for (const FakeHttpServer::Request &request : server.requests())
        n += request.path == "/api/tags";
    return n;
}

// A loopback port with nobody listening on it.
QUrl closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return QUrl(QStringLiteral("http://127.0.0.1:%1").arg(port));
}
}

class TestInstalledModels : public QObject
{
    Q_OBJECT

    QDateTime clock = QDateTime(QDate(2026, 12, 8), QTime(12, 0), Qt::UTC);

    LocalAISources sources(const QUrl &url)
    {
        LocalAISources s;
        s.ollamaUrl = url;
        s.searchPath = QStringList{};
        s.ollamaBlobDirs = QStringList{};
        s.huggingFaceHub = QStringLiteral("/nonexistent-hub");
        s.now = [this] { return clock; };
        return s;
    }

private Q_SLOTS:
    void decodesTags_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::addColumn<int>("count");   // -1: does not decode
        QTest::newRow("empty object") << QByteArray("{}") << 0;
        QTest::newRow("null models") << QByteArray(R"({"models": null})") << 0;
        QTest::newRow("empty list") << QByteArray(R"({"models": []})") << 0;
        QTest::newRow("bare entry") << QByteArray(R"({"models": [{"name": "a", "size": 0}]})") << 1;
        QTest::newRow("null details") << QByteArray(R"({"models": [{"name": "a", "size": 1, "details": null}]})") << 1;
        QTest::newRow("models an object") << QByteArray(R"({"models": {}})") << -1;
        QTest::newRow("entry a number") << QByteArray(R"({"models": [3]})") << -1;
        QTest::newRow("no size") << QByteArray(R"({"models": [{"name": "a"}]})") << -1;
        QTest::newRow("negative size") << QByteArray(R"({"models": [{"name": "a", "size": -1}]})") << -1;
        QTest::newRow("fractional size") << QByteArray(R"({"models": [{"name": "a", "size": 1.5}]})") << -1;
        QTest::newRow("size as text") << QByteArray(R"({"models": [{"name": "a", "size": "1"}]})") << -1;
        QTest::newRow("empty name") << QByteArray(R"({"models": [{"name": "", "size": 1}]})") << -1;
        QTest::newRow("digest a number") << QByteArray(R"({"models": [{"name": "a", "size": 1, "digest": 5}]})") << -1;
        QTest::newRow("time a number") << QByteArray(R"({"models": [{"name": "a", "size": 1, "modified_at": 5}]})") << -1;
        QTest::newRow("details a list") << QByteArray(R"({"models": [{"name": "a", "size": 1, "details": []}]})") << -1;
        QTest::newRow("family a list") << QByteArray(R"({"models": [{"name": "a", "size": 1, "details": {"family": []}}]})") << -1;
        QTest::newRow("truncated") << installedTags().left(200) << -1;
        QTest::newRow("array body") << QByteArray("[]") << -1;
        QTest::newRow("html") << QByteArray("<html>busy</html>") << -1;
    }
    void decodesTags()
    {
        QFETCH(QByteArray, body);
        QFETCH(int, count);
        const auto models = InstalledModel::decodeTags(body);
        QCOMPARE(models.has_value(), count >= 0);
        if (models)
            QCOMPARE(models->size(), count);
    }

    void decodesFields()
    {
        const auto models = InstalledModel::decodeTags(installedTags());
        QVERIFY(models);
        QCOMPARE(field(*models, &InstalledModel::name), (QStringList{"qwen2.5:0.5b", "llama3:8b", "mixtral:8x7b", "llama3.1:405b"}));
        const InstalledModel &small = models->first();
        QCOMPARE(small.size, qint64(397821319));
        QCOMPARE(small.parameterSize, QStringLiteral("494.03M"));
        QCOMPARE(small.quantization, QStringLiteral("Q4_K_M"));
        QCOMPARE(small.family, QStringLiteral("qwen2"));
        QCOMPARE(small.digest, QStringLiteral("a8b0c51577010a279d933d14c2a8ab4b268079d44c5c8830c0a93900f1827c67"));
        QCOMPARE(small.modified(), QDateTime(QDate(2026, 11, 30), QTime(8, 12, 44, 123), Qt::UTC));
        QCOMPARE(models->at(3).size, qint64(243000000000));
        QVERIFY(!small.remote && !small.loaded && small.fit.isEmpty());

        // A cloud model names its host; an unreadable time is no time, not a failure.
        const auto cloud = InstalledModel::decodeTags(cloudModelTags());
        QVERIFY(cloud);
        QVERIFY(cloud->first().remote);
        QVERIFY(cloud->first().modified().isNull());
        QCOMPARE(cloud->first().parameterSize, QString());
    }

    // A read from the server: the rows in its order, each judged against the figures the
    // app hands in, with the loaded model's memory counted as released.
    void readsAndJudgesTheInstalledModels()
    {
        FakeHttpServer ollama;
        LocalAIService service(sources(ollama.url()), LocalAIService::Polling::Manual);
        service.setDemoMode(false);
        service.setFreeMemory(smallGpuMachine());
        QCOMPARE(service.fitRamBudget(), 40 * kGiB);
        QCOMPARE(service.fitGpuBudget(), 1 * kGiB);
        ollama.reply(200, loadedOnCpu());
        await([&](auto done) { service.updateModels(done); });
        QCOMPARE(service.fitRamBudget(), 45 * kGiB);

        QSignalSpy changed(&service, &LocalAIService::installedModelsChanged);
        ollama.reply(200, installedTags());
        await([&](auto done) { service.refreshInstalledModels(done); });
        QCOMPARE(ollama.requests().last().method, QByteArray("GET"));
        QCOMPARE(ollama.requests().last().path, QByteArray("/api/tags"));
        QCOMPARE(changed.count(), 1);
        const QList<InstalledModel> rows = service.installedModels();
        QCOMPARE(field(rows, &InstalledModel::name), (QStringList{"qwen2.5:0.5b", "llama3:8b", "mixtral:8x7b", "llama3.1:405b"}));
        QCOMPARE(field(rows, &InstalledModel::fit),
                 (QStringList{ModelFit::fitsInGpu(), ModelFit::splits(), ModelFit::cpuOnly(), ModelFit::willNotFit()}));
        QVERIFY(rows[1].loaded);
        QVERIFY(!rows[0].loaded && !rows[2].loaded);

        // Ejected, llama3:8b no longer gives 5 GiB back: the budget shrinks, the verdicts
        // are judged again at once, and no read is made for it.
        const int reads = tagReads(ollama);
        ollama.reply(200, R"({"models": []})");
        await([&](auto done) { service.updateModels(done); });
        QCOMPARE(service.fitRamBudget(), 40 * kGiB);
        QVERIFY(!service.installedModels()[1].loaded);
        QCOMPARE(tagReads(ollama), reads);

        // The figures change under the verdicts: with no GPU figure the small model runs
        // on the CPU, and the mixture no longer fits.
        service.setFreeMemory(FreeMemory{std::nullopt, std::nullopt, 20 * kGiB, 64 * kGiB});
        QCOMPARE(service.fitGpuBudget(), qint64(-1));
        QCOMPARE(field(service.installedModels(), &InstalledModel::fit),
                 (QStringList{ModelFit::cpuOnly(), ModelFit::cpuOnly(), ModelFit::willNotFit(), ModelFit::willNotFit()}));
        service.setFreeMemory(std::nullopt);
        QCOMPARE(field(service.installedModels(), &InstalledModel::fit), (QStringList{"", "", "", ""}));
        QCOMPARE(service.fitRamBudget(), qint64(-1));
    }

    // A reply that does not decode, an error status, one that comes too late and a server
    // that is not there each leave the list as it was, and the log says which it was.
    void failedReadsLeaveTheListAndSayWhy()
    {
        FakeHttpServer ollama;
        LocalAIService service(sources(ollama.url()), LocalAIService::Polling::Manual);
        service.setDemoMode(false);
        ollama.reply(200, installedTags());
        await([&](auto done) { service.refreshInstalledModels(done); });
        const QList<InstalledModel> before = service.installedModels();
        QCOMPARE(before.size(), 4);

        QSignalSpy lines(&service, &LocalAIService::logged);
        QSignalSpy changed(&service, &LocalAIService::installedModelsChanged);
        const auto readExpectingFailure = [&](const QString &why) {
            await([&](auto done) { service.refreshInstalledModels(done); }, LocalAIService::kInstalledTimeoutMs + 3000);
            QCOMPARE(service.installedModels(), before);
            QVERIFY(!lines.isEmpty());
            const QString line = lines.takeLast().at(0).toString();
            QVERIFY2(line.startsWith(QStringLiteral("Installed models left as they were: ")) && line.contains(why), qPrintable(line));
        };
        ollama.reply(200, R"({"models": [{"name": "x", "size": "big"}]})");
        readExpectingFailure(QStringLiteral("unreadable reply"));
        ollama.reply(200, installedTags().left(300));
        readExpectingFailure(QStringLiteral("unreadable reply"));
        ollama.reply(500, R"({"error": "internal"})");
        readExpectingFailure(QStringLiteral("HTTP status 500"));

        // Slow: the whole answer has one deadline, and nothing waits past it.
        ollama.reply(200, installedTags());
        ollama.setDelay(LocalAIService::kInstalledTimeoutMs + 2000);
        QElapsedTimer elapsed;
        elapsed.start();
        readExpectingFailure(QStringLiteral("no answer within"));
        QVERIFY2(elapsed.elapsed() < LocalAIService::kInstalledTimeoutMs + 1000, qPrintable(QString::number(elapsed.elapsed())));
        QCOMPARE(changed.count(), 0);

        LocalAIService gone(sources(closedPort()), LocalAIService::Polling::Manual);
        gone.setDemoMode(false);
        QSignalSpy goneLines(&gone, &LocalAIService::logged);
        await([&](auto done) { gone.refreshInstalledModels(done); });
        QVERIFY(gone.installedModels().isEmpty());
        QVERIFY(!goneLines.isEmpty());
        QVERIFY(goneLines.last().at(0).toString().endsWith(QStringLiteral("the server is not running")));
    }

    // Passes every two seconds read the installed list at first and then only every
    // kRefreshSecs, never while the server is Offline, and at once when it comes back or
    // lists a loaded model the installed list lacks.
    void passesReadAtAGentlePace()
    {
        FakeHttpServer ollama;
        LocalAIService service(sources(ollama.url()), LocalAIService::Polling::Manual);
        service.setDemoMode(false);
        // Each entry decodes as a loaded model and as an installed one.
        ollama.reply(200, R"({"models": [{"name": "llama3:8b", "size": 4661224676}]})");
        const QDateTime start = clock;
        const auto pass = [&] {
            await([&](auto done) { QVERIFY(service.runPass(done)); });
            QTRY_VERIFY(!service.installedModels().isEmpty());   // the read beside the pass
        };
        pass();
        QCOMPARE(tagReads(ollama), 1);
        for (int s = 2; s < LocalAIService::kInstalledRefreshSecs; s += 2) {
            clock = start.addSecs(s);
            pass();
        }
        QCOMPARE(tagReads(ollama), 1);
        clock = start.addSecs(LocalAIService::kInstalledRefreshSecs);
        pass();
        QTRY_COMPARE(tagReads(ollama), 2);

        // Offline: no reads, however long.
        ollama.reply(503, "{}");
        clock = clock.addSecs(10 * LocalAIService::kInstalledRefreshSecs);
        await([&](auto done) { service.runPass(done); });
        QCOMPARE(service.statusText(), QStringLiteral("Offline"));
        QTest::qWait(100);
        QCOMPARE(tagReads(ollama), 2);
        // Back: read at once, though not that long has passed since the last read.
        ollama.reply(200, R"({"models": [{"name": "llama3:8b", "size": 4661224676}]})");
        clock = clock.addSecs(2);
        await([&](auto done) { service.runPass(done); });
        QTRY_COMPARE(tagReads(ollama), 3);
        // A loaded model the list lacks was pulled since: read again on the next pass.
        ollama.reply(200, R"({"models": [{"name": "llama3:8b", "size": 4661224676}, {"name": "qwen3:4b", "size": 2497293931}]})");
        clock = clock.addSecs(2);
        await([&](auto done) { service.runPass(done); });
        QTRY_COMPARE(tagReads(ollama), 4);
        QTRY_COMPARE(service.installedModels().size(), 2);
        clock = clock.addSecs(2);
        await([&](auto done) { service.runPass(done); });
        QTest::qWait(100);
        QCOMPARE(tagReads(ollama), 4);
    }

    // The demo lists sample models judged on its sample machine, all four verdicts among
    // them, whatever this machine has free; leaving it drops them for the server's.
    void demoShowsSamplesOnItsSampleMachine()
    {
        FakeHttpServer ollama;
        LocalAIService service(sources(ollama.url()), LocalAIService::Polling::Manual);
        QVERIFY(service.demoMode());
        service.setFreeMemory(FreeMemory{std::nullopt, std::nullopt, kGiB, 2 * kGiB});
        await([&](auto done) { service.runPass(done); });
        const QList<InstalledModel> rows = service.installedModels();
        QCOMPARE(field(rows, &InstalledModel::name), field(InstalledModel::samples(clock), &InstalledModel::name));
        QCOMPARE(field(rows, &InstalledModel::fit),
                 (QStringList{ModelFit::splits(), ModelFit::splits(), ModelFit::fitsInGpu(), ModelFit::splits(),
                              ModelFit::fitsInGpu(), ModelFit::cpuOnly(), ModelFit::willNotFit()}));
        QVERIFY(rows[0].loaded && rows[1].loaded);
        QCOMPARE(service.fitGpuBudget(), 4 * kGiB);
        QCOMPARE(tagReads(ollama), 0);

        // The sample models unload with time; the verdicts stay as they were.
        clock = clock.addSecs(300);
        await([&](auto done) { service.updateModels(done); });
        QVERIFY(service.activeModels().isEmpty());
        QCOMPARE(field(service.installedModels(), &InstalledModel::fit), field(rows, &InstalledModel::fit));

        QSignalSpy changed(&service, &LocalAIService::installedModelsChanged);
        service.setDemoMode(false);
        QCOMPARE(changed.count(), 1);
        QVERIFY(service.installedModels().isEmpty());
        QCOMPARE(service.fitRamBudget(), kGiB);
        ollama.reply(200, installedTags());
        await([&](auto done) { service.runPass(done); });
        QTRY_COMPARE(service.installedModels().size(), 4);
        QCOMPARE(service.installedModels().first().fit, ModelFit::cpuOnly());
    }
};

QTEST_GUILESS_MAIN(TestInstalledModels)
#include "tst_InstalledModels.moc"
