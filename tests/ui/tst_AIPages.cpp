// The dashboard's AI pages over the real services: loaded models as a fake Ollama lists
// them, the relay's switch, the GPU and NPU of a fixture machine, and the deduplicator on
// fixture model stores.

#include "caches/BuildCacheService.h"
#include "gateway/LocalAPILatencyService.h"
#include "gateway/LocalAPIProxyService.h"
#include "localai/LocalAIService.h"
#include "localai/OllamaTags.h"
#include "support/AIScreens.h"
#include "support/OllamaReplies.h"
#include "support/FakeHttpServer.h"
#include "support/NamedProcesses.h"
#include "support/QmlPageHarness.h"
#include "support/ScreenFixture.h"

#include <QAccessible>
#include <QCryptographicHash>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QQuickItem>
#include <QTcpSocket>
#include <QTest>

#include <filesystem>
#include <optional>

#include <sys/stat.h>

class TestAIPages : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Each loaded model says where its weights live, its context and when it unloads, as
    // Ollama's own client does; "Eject All" asks the server once per model.
    void modelRowsAndEjectAll()
    {
        FakeHttpServer ollama;
        ollama.reply(200, listing());
        LocalAIService localAI(liveSources(ollama.url()), LocalAIService::Polling::Manual);
        localAI.setDemoMode(false);
        bool listed = false;
        localAI.updateModels([&listed] { listed = true; });
        QTRY_VERIFY_WITH_TIMEOUT(listed, 5000);
        QCOMPARE(localAI.activeModels().size(), 3);

        ScreenFixture fixture;
        QmlServices::Set set = fixture.services();
        set.localAI = &localAI;
        QmlPageHarness harness(set);
        QQuickItem *card = harness.load(QStringLiteral("LoadedModelsCard"), {}, 400);
        QVERIFY(card);

        QCOMPARE(texts(card, "modelRow", "modelName"), (QStringList{"llama3:8b", "mixtral:8x7b", "phi3:mini"}));
        QCOMPARE(texts(card, "modelRow", "residency"), (QStringList{"100% GPU", "48% / 52% CPU/GPU", "100% CPU"}));
        const QStringList details = texts(card, "modelRow", "modelDetails");
        QCOMPARE(details.size(), 3);
        QCOMPARE(details[0], QStringLiteral("Context 8192 tokens · Unloads: Forever"));
        QVERIFY2(details[1].startsWith(QStringLiteral("Context 32768 tokens · Unloads: in ")), qPrintable(details[1]));
        QCOMPARE(details[2], QStringLiteral("Context 4096 tokens · Unloads: Stopping…"));
        QCOMPARE(texts(card, "modelRow", "modelSize"), (QStringList{"4.8 GB", "9.3 GB", "2.2 GB"}));
        QCOMPARE(QmlPageHarness::text(card, "modelsSummary"), QStringLiteral("Active · 3 Loaded"));
        QVERIFY(QmlPageHarness::shown(card, "modelsEmpty").isEmpty());

        // Eject All: one request per loaded model, each unloading it at once.
        QObject *ejectAll = QmlPageHarness::child(card, "ejectAllButton");
        QVERIFY(ejectAll && ejectAll->property("enabled").toBool());
        QVERIFY(click(ejectAll));
        QVERIFY(ejectAll->property("running").toBool());
        auto ejected = [&ollama] {
            QStringList names;
            for (const FakeHttpServer::Request &r : ollama.requests())
                if (r.path == "/api/generate") {
                    const QJsonObject body = QJsonDocument::fromJson(r.body).object();
                    if (body.value(QStringLiteral("keep_alive")).toInt(-1) == 0)
                        names << body.value(QStringLiteral("model")).toString();
                }
            return names;
        };
        QTRY_COMPARE_WITH_TIMEOUT(ejected().size(), 3, 5000);
        QStringList names = ejected();
        names.sort();
        QCOMPARE(names, (QStringList{"llama3:8b", "mixtral:8x7b", "phi3:mini"}));
        QTest::qWait(200);
        QCOMPARE(ejected().size(), 3);

        // The server now lists none: the card says so, and the button rests.
        ollama.reply(200, R"({"models": []})");
        listed = false;
        localAI.updateModels([&listed] { listed = true; });
        QTRY_VERIFY_WITH_TIMEOUT(listed, 5000);
        QCOMPARE(QmlPageHarness::shown(card, "modelRow").size(), 0);
        QCOMPARE(QmlPageHarness::shown(card, "modelsEmpty").size(), 1);
        QVERIFY(!ejectAll->property("running").toBool());
        QVERIFY(!ejectAll->property("enabled").toBool());
        QVERIFY2(QmlPageHarness::warnings().isEmpty(), qPrintable(QmlPageHarness::warnings().join('\n')));
    }

    // The relay's switch starts off on every new page whatever the relay does; on, it
    // routes on 11430; off, it says so and forgets the last model.
    void proxySwitch()
    {
        FakeHttpServer ollama;
        GenerationFigures figures;
        figures.model = QStringLiteral("llama3:8b");
        figures.generatedTokens = 250;
        figures.evalNs = 5'000'000'000;
        figures.promptTokens = 30;
        figures.promptEvalNs = 100'000'000;
        figures.loadNs = 2'500'000'000;
        ollama.reply(200, finalObject(figures, false));
        RelayTarget upstream;
        upstream.port = ollama.url().port();
        LocalAPIProxyService proxy(upstream);
        ScreenFixture fixture;
        QmlServices::Set set = fixture.services();
        LocalAIService localAI(liveSources(QUrl(QStringLiteral("http://127.0.0.1:9"))), LocalAIService::Polling::Manual);
        set.localAI = &localAI;
        set.proxy = &proxy;
        LatencySources latencySources;
        LocalAPILatencyService latency(latencySources, LocalAPILatencyService::Polling::Manual);
        set.latencyProbe = &latency;
        QmlPageHarness harness(set);
        QQuickItem *page = harness.load(QStringLiteral("APISentinelPage"));
        QVERIFY(page);
        QObject *toggle = QmlPageHarness::child(page, "toggleSwitch");
        QVERIFY(toggle);
        QVERIFY(!toggle->property("checked").toBool());
        QCOMPARE(QmlPageHarness::text(page, "proxyState"), QStringLiteral("Offline / Bypassed 💤"));
        QVERIFY(QmlPageHarness::text(page, "throughputEmpty").startsWith(QStringLiteral("Switch the relay on")));

        QMetaObject::invokeMethod(toggle, "toggle");
        QMetaObject::invokeMethod(toggle, "toggled");
        QTRY_COMPARE_WITH_TIMEOUT(QmlPageHarness::text(page, "proxyState"), QStringLiteral("Routing Port 11430 🚀"), 5000);
        QVERIFY(proxy.isRunning());
        QCOMPARE(proxy.listeningPort(), quint16(11430));

        // A request through the relay names its model.
        QTcpSocket client;
        client.connectToHost(QHostAddress::LocalHost, 11430);
        QVERIFY(client.waitForConnected(3000));
        const QByteArray body = R"({"model": "llama3:8b", "prompt": "hi"})";
        client.write("POST /api/generate HTTP/1.1\r\nHost: x\r\nContent-Length: " + QByteArray::number(body.size())
                     + "\r\n\r\n" + body);
        QTRY_COMPARE_WITH_TIMEOUT(QmlPageHarness::text(page, "lastRoutedModel"), QStringLiteral("llama3:8b"), 5000);
        QTRY_COMPARE(QmlPageHarness::text(page, "requestCount"), QStringLiteral("1"));
        // Its reply's figures give the model's speed and load time.
        QTRY_COMPARE(QmlPageHarness::shown(page, "throughputRow").size(), 1);
        QCOMPARE(texts(page, "throughputRow", "throughputModel"), QStringList{QStringLiteral("llama3:8b")});
        QCOMPARE(texts(page, "throughputRow", "throughputRate"), QStringList{QStringLiteral("50.0 tok/s")});
        QCOMPARE(texts(page, "throughputRow", "throughputLoad"), QStringList{QStringLiteral("load 2.50 s")});
        QVERIFY(texts(page, "throughputRow", "throughputDetail").first().startsWith(QStringLiteral("1 request · 250 tokens · last 50.0 tok/s · prompt 300.0 tok/s")));
        QVERIFY(!QmlPageHarness::child(page, "throughputEmpty")->property("visible").toBool());
        client.close();

        // A new page over the running relay: the switch is off, the state line is true.
        {
            QQuickItem *again = harness.load(QStringLiteral("APISentinelPage"));
            QVERIFY(again);
            QVERIFY(!QmlPageHarness::property(again, "toggleSwitch", "checked").toBool());
            QCOMPARE(QmlPageHarness::text(again, "proxyState"), QStringLiteral("Routing Port 11430 🚀"));
            delete again;
        }

        toggle->setProperty("checked", false);
        QMetaObject::invokeMethod(toggle, "toggled");
        QTRY_COMPARE_WITH_TIMEOUT(QmlPageHarness::text(page, "proxyState"), QStringLiteral("Offline / Bypassed 💤"), 5000);
        QCOMPARE(QmlPageHarness::text(page, "lastRoutedModel"), QStringLiteral("None"));
        QVERIFY2(QmlPageHarness::warnings().isEmpty(), qPrintable(QmlPageHarness::warnings().join('\n')));
    }

    // The hardware page names the GPU and its compute stack, and the NPU with the load its
    // driver counts; without either it says so instead of drawing a figure.
    void hardwarePage()
    {
        auto link = [](FixtureTree &tree, const QString &relative, const char *driver) {
            QDir().mkpath(QFileInfo(tree.path(relative)).absolutePath());
            std::filesystem::create_symlink(std::string("../../../bus/pci/drivers/") + driver, tree.root(relative));
        };
        ScreenFixture fixture(true, [&link](FixtureTree &tree) {
            tree.write("sys/class/drm/card1/device/vendor", "0x1002\n");
            tree.write("sys/class/drm/card1/device/device", "0x744c\n");
            tree.write("sys/class/drm/card1/device/label", "Radeon RX 7900 XTX\n");
            link(tree, "sys/class/drm/card1/device/driver", "amdgpu");
            tree.write("dev/kfd", "");
            link(tree, "sys/class/accel/accel0/device/driver", "intel_vpu");
            tree.write("sys/class/accel/accel0/device/npu_busy_time_us", "1000000\n");
        });
        fixture.tree.write("sys/class/accel/accel0/device/npu_busy_time_us", "1250000\n");
        fixture.sample({10, 10, 10, 10});   // a second on, a quarter of it busy
        LocalAIService localAI(liveSources(QUrl(QStringLiteral("http://127.0.0.1:9"))), LocalAIService::Polling::Manual);
        QmlServices::Set set = fixture.services();
        set.localAI = &localAI;
        QmlPageHarness harness(set);
        QQuickItem *page = harness.load(QStringLiteral("AIHardwarePage"));
        QVERIFY(page);
        QCOMPARE(QmlPageHarness::text(page, "gpuName"), QStringLiteral("Radeon RX 7900 XTX"));
        QCOMPARE(QmlPageHarness::text(page, "computeStack"), QStringLiteral("ROCm Hardware Acceleration"));
        // amdgpu's load file is absent here: the figure is an estimate and says so.
        QVERIFY2(QmlPageHarness::text(page, "gpuLoad").startsWith(QStringLiteral("≈ ")), qPrintable(QmlPageHarness::text(page, "gpuLoad")));
        QVERIFY(QmlPageHarness::shown(page, "gpuCores").isEmpty());
        QCOMPARE(QmlPageHarness::text(page, "npuName"), QStringLiteral("Intel NPU"));
        QCOMPARE(QmlPageHarness::text(page, "npuLoad"), QStringLiteral("25.0%"));
        QCOMPARE(QmlPageHarness::shown(page, "npuRing").size(), 1);
        QVERIFY(QmlPageHarness::shown(page, "npuCaption").isEmpty());
        QVERIFY2(QmlPageHarness::warnings().isEmpty(), qPrintable(QmlPageHarness::warnings().join('\n')));

        ScreenFixture bare;
        QmlServices::Set bareSet = bare.services();
        bareSet.localAI = &localAI;
        QmlPageHarness bareHarness(bareSet);
        QQuickItem *plain = bareHarness.load(QStringLiteral("AIHardwarePage"));
        QVERIFY(plain);
        QCOMPARE(QmlPageHarness::text(plain, "gpuName"), QStringLiteral("No GPU found"));
        QCOMPARE(QmlPageHarness::text(plain, "npuName"), QStringLiteral("No neural engine on this machine"));
        QVERIFY(QmlPageHarness::shown(plain, "npuLoad").isEmpty());
        QVERIFY(QmlPageHarness::shown(plain, "npuRing").isEmpty());
        QVERIFY2(QmlPageHarness::warnings().isEmpty(), qPrintable(QmlPageHarness::warnings().join('\n')));
    }

    // "Deduplicate" asks first, naming the files and the bytes, then links the copy to the
    // other store's file: both paths still read the same weights, and nothing is deleted.
    void deduplicateAfterConfirmation()
    {
        ScreenFixture fixture;
        const QByteArray weights(256 * 1024, 'w');
        const QByteArray other(128 * 1024, 'o');
        const QString digest = QCryptographicHash::hash(weights, QCryptographicHash::Sha256).toHex();
        const QString otherDigest = QCryptographicHash::hash(other, QCryptographicHash::Sha256).toHex();
        const QString ollamaBlob = ".ollama/models/blobs/sha256-" + digest;
        const QString hubBlob = ".cache/huggingface/hub/models--org--llama/blobs/" + digest;
        const QString hubOther = ".cache/huggingface/hub/models--org--llama/blobs/" + otherDigest;
        fixture.tree.write(ollamaBlob, weights);
        fixture.tree.write(hubBlob, weights);
        fixture.tree.write(hubOther, other);

        const BuildCacheSources sources = cacheSourcesIn(fixture.tree);
        BuildCacheService caches(sources, BuildCacheService::Polling::Manual);
        LocalAIService localAI(liveSources(QUrl(QStringLiteral("http://127.0.0.1:9"))), LocalAIService::Polling::Manual);
        QmlServices::Set set = fixture.services();
        set.localAI = &localAI;
        set.buildCaches = &caches;
        QmlPageHarness harness(set);
        QQuickItem *page = harness.load(QStringLiteral("AIModelsPage"));
        QVERIFY(page);
        localAI.setDemoMode(false);

        QObject *button = QmlPageHarness::child(page, "deduplicateButton");
        QObject *dialog = QmlPageHarness::child(page, "confirmLink");
        QVERIFY(button && dialog);
        QVERIFY(click(button));
        QTRY_VERIFY_WITH_TIMEOUT(dialog->property("opened").toBool(), 5000);
        QCOMPARE(caches.duplicateWeights().size(), 1);
        QCOMPARE(caches.duplicateWeights().first().size, qint64(weights.size()));
        // Cancelled: nothing changes.
        QMetaObject::invokeMethod(dialog, "reject");
        QTRY_VERIFY(!dialog->property("opened").toBool());
        QFileInfo before(fixture.tree.path(ollamaBlob)), beforeHub(fixture.tree.path(hubBlob));
        QVERIFY(before.exists() && beforeHub.exists());
        QCOMPARE(before.fileTime(QFileDevice::FileModificationTime).isValid(), true);
        struct stat a {}, b {};
        QCOMPARE(::stat(fixture.tree.root(ollamaBlob).c_str(), &a), 0);
        QCOMPARE(::stat(fixture.tree.root(hubBlob).c_str(), &b), 0);
        QVERIFY(a.st_ino != b.st_ino);

        QVERIFY(click(button));
        QTRY_VERIFY_WITH_TIMEOUT(dialog->property("opened").toBool(), 5000);
        QVERIFY2(QmlPageHarness::text(page, "linkQuestion").contains(QStringLiteral("256 KB")),
                 qPrintable(QmlPageHarness::text(page, "linkQuestion")));
        QMetaObject::invokeMethod(dialog, "accept");
        QTRY_VERIFY_WITH_TIMEOUT(QmlPageHarness::text(page, "dedupeMessage").startsWith(QStringLiteral("Reclaimed")), 5000);
        QTRY_VERIFY(!button->property("running").toBool());
        QCOMPARE(::stat(fixture.tree.root(ollamaBlob).c_str(), &a), 0);
        QCOMPARE(::stat(fixture.tree.root(hubBlob).c_str(), &b), 0);
        QCOMPARE(a.st_ino, b.st_ino);
        for (const QString &path : {ollamaBlob, hubBlob}) {
            QFile f(fixture.tree.path(path));
            QVERIFY(f.open(QIODevice::ReadOnly));
            QCOMPARE(f.readAll(), weights);
        }
        QFile distinct(fixture.tree.path(hubOther));
        QVERIFY(distinct.open(QIODevice::ReadOnly));
        QCOMPARE(distinct.readAll(), other);

        // Nothing left to link: the page says so.
        QVERIFY(click(button));
        QTRY_COMPARE_WITH_TIMEOUT(QmlPageHarness::text(page, "dedupeMessage"), QStringLiteral("No duplicate weights found"), 5000);
        QVERIFY(!dialog->property("opened").toBool());
        QVERIFY2(QmlPageHarness::warnings().isEmpty(), qPrintable(QmlPageHarness::warnings().join('\n')));
    }

    // The installed models on the models page, each with its verdict, size marked as an
    // estimate and the memory it was judged against; with the server down, the card says
    // so instead of showing the last list.
    void installedModelsCard()
    {
        FakeHttpServer ollama;
        LocalAIService localAI(liveSources(ollama.url()), LocalAIService::Polling::Manual);
        localAI.setDemoMode(false);
        localAI.setFreeMemory(smallGpuMachine());
        bool read = false;
        ollama.reply(200, installedTags());
        localAI.refreshInstalledModels([&read] { read = true; });
        QTRY_VERIFY_WITH_TIMEOUT(read, 5000);
        ollama.reply(200, loadedOnCpu());
        read = false;
        localAI.updateModels([&read] { read = true; });
        QTRY_VERIFY_WITH_TIMEOUT(read, 5000);

        ScreenFixture fixture;
        BuildCacheService caches(cacheSourcesIn(fixture.tree), BuildCacheService::Polling::Manual);
        QmlServices::Set set = fixture.services();
        set.localAI = &localAI;
        set.buildCaches = &caches;
        QmlPageHarness harness(set);
        QQuickItem *page = harness.load(QStringLiteral("AIModelsPage"));
        QVERIFY(page);
        QObject *card = QmlPageHarness::child(page, "installedCard");
        QVERIFY(card);

        QCOMPARE(texts(card, "installedRow", "installedName"),
                 (QStringList{"qwen2.5:0.5b", "llama3:8b", "mixtral:8x7b", "llama3.1:405b"}));
        QCOMPARE(texts(card, "installedRow", "fitText"), (QStringList{"Fits in GPU", "Splits GPU/CPU", "CPU only", "Will not fit"}));
        QCOMPARE(texts(card, "installedRow", "installedSize"), (QStringList{"≈ 379 MB", "≈ 4.3 GB", "≈ 24.6 GB", "≈ 226.3 GB"}));
        QCOMPARE(texts(card, "installedRow", "installedDetails").first(), QStringLiteral("494.03M · Q4_K_M · qwen2"));
        // Each verdict has its own colour.
        QSet<QString> tints;
        for (QObject *badge : QmlPageHarness::shown(card, "fitBadge"))
            tints.insert(badge->property("tint").value<QColor>().name());
        QCOMPARE(tints.size(), 4);
        const QList<QObject *> rows = QmlPageHarness::shown(card, "installedRow");
        QCOMPARE(QmlPageHarness::shown(rows[1], "loadedBadge").size(), 1);
        QCOMPARE(QmlPageHarness::shown(rows[0], "loadedBadge").size(), 0);
        QCOMPARE(QmlPageHarness::text(card, "fitBasis"),
                 QStringLiteral("Judged against 1.0 GB of GPU memory and 45.0 GB of system memory free, counting what the "
                                "loaded models would release."));
        QVERIFY(QmlPageHarness::text(card, "fitNote").startsWith(QStringLiteral("≈ ")));
        QVERIFY(QmlPageHarness::shown(card, "installedOffline").isEmpty());

        // Without a GPU figure the page says the GPU side is unknown, not zero.
        localAI.setFreeMemory(FreeMemory{std::nullopt, std::nullopt, 40 * kGiB, 64 * kGiB});
        QCOMPARE(QmlPageHarness::text(card, "fitBasis"),
                 QStringLiteral("Judged against 45.0 GB of system memory (no GPU memory figure from a driver) free, counting "
                                "what the loaded models would release."));
        QCOMPARE(texts(card, "installedRow", "fitText"), (QStringList{"CPU only", "CPU only", "CPU only", "Will not fit"}));

        // The server stops: the card says Ollama is not running and shows no rows.
        ollama.reply(503, "{}");
        read = false;
        localAI.updateModels([&read] { read = true; });
        QTRY_VERIFY_WITH_TIMEOUT(read, 5000);
        QCOMPARE(localAI.statusText(), QStringLiteral("Offline"));
        QCOMPARE(QmlPageHarness::shown(card, "installedOffline").size(), 1);
        QVERIFY(QmlPageHarness::text(card, "installedOffline").startsWith(QStringLiteral("Ollama is not running")));
        QVERIFY(QmlPageHarness::shown(card, "installedRow").isEmpty());
        QVERIFY(QmlPageHarness::shown(card, "fitBasis").isEmpty());
        QVERIFY2(QmlPageHarness::warnings().isEmpty(), qPrintable(QmlPageHarness::warnings().join('\n')));

        // A page opened while nothing listens there says the same.
        LocalAIService down(liveSources(QUrl(QStringLiteral("http://127.0.0.1:9"))), LocalAIService::Polling::Manual);
        down.setDemoMode(false);
        read = false;
        down.updateModels([&read] { read = true; });
        QTRY_VERIFY_WITH_TIMEOUT(read, 5000);
        QmlServices::Set downSet = fixture.services();
        downSet.localAI = &down;
        downSet.buildCaches = &caches;
        QmlPageHarness downHarness(downSet);
        QQuickItem *downPage = downHarness.load(QStringLiteral("AIModelsPage"));
        QVERIFY(downPage);
        QCOMPARE(QmlPageHarness::shown(downPage, "installedOffline").size(), 1);
        QVERIFY(QmlPageHarness::shown(downPage, "installedEmpty").isEmpty());
        QVERIFY2(QmlPageHarness::warnings().isEmpty(), qPrintable(QmlPageHarness::warnings().join('\n')));
    }

    void recognisesAIBackends()
    {
        for (const char *name : {"python3", "Python", "conda", "ollama", "llama-server", "ollama_llama_se", "miniconda3"})
            QVERIFY2(QmlServices::isAIBackend(QLatin1String(name)), name);
        for (const char *name : {"bash", "node", "clang", "Xorg", "pyth", ""})
            QVERIFY2(!QmlServices::isAIBackend(QLatin1String(name)), name);
    }
};

QTEST_MAIN(TestAIPages)
#include "tst_AIPages.moc"
