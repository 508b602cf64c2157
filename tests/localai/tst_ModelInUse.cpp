#include "localai/LocalAIService.h"
#include "localai/ModelManifest.h"
#include "support/FakeHttpServer.h"
#include "support/FixtureTree.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>

#include <unistd.h>

namespace {
template<typename Step>
void await(Step step)
{
    bool finished = false;
    step([&finished] { finished = true; });
    QTRY_VERIFY_WITH_TIMEOUT(finished, 5000);
}

QString hex(char c) { return QString(64, QLatin1Char(c)); }

QByteArray manifest(const QStringList &layerDigests, const QString &configDigest)
{
    QJsonArray layers;
    for (const QString &digest : layerDigests)
        layers.append(QJsonObject{{QStringLiteral("mediaType"), QStringLiteral("application/vnd.ollama.image.model")},
                                  {QStringLiteral("digest"), QStringLiteral("sha256:") + digest},
                                  {QStringLiteral("size"), 60'000'001}});
    const QJsonObject config{{QStringLiteral("mediaType"), QStringLiteral("application/vnd.docker.container.image.v1+json")},
                             {QStringLiteral("digest"), QStringLiteral("sha256:") + configDigest}};
    return QJsonDocument(QJsonObject{{QStringLiteral("schemaVersion"), 2}, {QStringLiteral("config"), config},
                                     {QStringLiteral("layers"), layers}})
        .toJson();
}

// A file above the list's size threshold that holds no blocks.
void makeSparse(const QString &path, qint64 size)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
    QVERIFY(f.resize(size));
}
}

class TestModelInUse : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void manifestLocationsAndDigests()
    {
        const QString models = QStringLiteral("/m");
        QCOMPARE(ModelManifest::path(models, QStringLiteral("llama3:8b")),
                 QStringLiteral("/m/manifests/registry.ollama.ai/library/llama3/8b"));
        QCOMPARE(ModelManifest::path(models, QStringLiteral("llama3")),
                 QStringLiteral("/m/manifests/registry.ollama.ai/library/llama3/latest"));
        QCOMPARE(ModelManifest::path(models, QStringLiteral("user/coder:q4")),
                 QStringLiteral("/m/manifests/registry.ollama.ai/user/coder/q4"));
        QCOMPARE(ModelManifest::path(models, QStringLiteral("hf.co:443/org/model:Q8_0")),
                 QStringLiteral("/m/manifests/hf.co:443/org/model/Q8_0"));
        QCOMPARE(ModelManifest::path(models, QStringLiteral("../../etc:passwd")), QString());
        QCOMPARE(ModelManifest::path(models, QStringLiteral("a/b/c/d:e")), QString());
        QCOMPARE(ModelManifest::path(models, QStringLiteral("llama3:")), QString());

        QCOMPARE(ModelManifest::blobDigests(manifest({hex('a'), hex('b')}, hex('c'))), (QStringList{hex('a'), hex('b'), hex('c')}));
        QCOMPARE(ModelManifest::blobDigests("not json"), QStringList{});
        QCOMPARE(ModelManifest::blobDigests(R"({"layers": [{"digest": "sha256:short"}]})"), QStringList{});
        QCOMPARE(ModelManifest::normalDigest(QStringLiteral("sha256:") + hex('A')), hex('a'));
        QCOMPARE(ModelManifest::normalDigest(QStringLiteral("sha256-") + hex('b')), hex('b'));
        QCOMPARE(ModelManifest::normalDigest(hex('c')), hex('c'));
        QCOMPARE(ModelManifest::normalDigest(QStringLiteral("md5:") + hex('c')), QString());
    }

    void listingCarriesTheDigest()
    {
        const auto decoded = LocalAIModel::decodeListing(
            QStringLiteral(R"({"models": [{"name": "llama3:8b", "size": 1, "digest": "%1"}, {"name": "b", "size": 2}]})")
                .arg(hex('d'))
                .toUtf8());
        QVERIFY(decoded);
        QCOMPARE(decoded->at(0).digest, hex('d'));
        QCOMPARE(decoded->at(1).digest, QString());
        QVERIFY(!LocalAIModel::decodeListing(R"({"models": [{"name": "a", "size": 1, "digest": 7}]})"));
    }

    // A blob a loaded model came from, or another name for it in the hub, is not deleted
    // while the model is loaded; files no loaded model uses still go.
    void refusesBlobsOfLoadedModels()
    {
        FixtureTree tree;
        const QString models = tree.path(QStringLiteral("home/.ollama/models"));
        const QString blobs = models + QStringLiteral("/blobs");
        const QString hub = tree.path(QStringLiteral("home/.cache/huggingface/hub"));
        const QString weights = blobs + QStringLiteral("/sha256-") + hex('a');
        const QString unused = blobs + QStringLiteral("/sha256-") + hex('f');
        const QString byPsDigest = blobs + QStringLiteral("/sha256-") + hex('e');
        const QString hubCopy = hub + QStringLiteral("/models--org--llama/blobs/") + hex('a');
        const QString hubOther = hub + QStringLiteral("/models--org--other/blobs/") + hex('b');
        makeSparse(weights, 60'000'001);
        makeSparse(unused, 60'000'001);
        makeSparse(byPsDigest, 60'000'001);
        makeSparse(hubOther, 20'000'000);
        QDir().mkpath(QFileInfo(hubCopy).path());
        QVERIFY(::link(QFile::encodeName(weights).constData(), QFile::encodeName(hubCopy).constData()) == 0);
        tree.write(QStringLiteral("home/.ollama/models/manifests/registry.ollama.ai/library/llama3/8b"),
                   manifest({hex('a')}, hex('c')));

        FakeHttpServer server;
        server.reply(200, QStringLiteral(R"({"models": [
            {"name": "llama3:8b", "size": 60000001, "digest": "%1"},
            {"name": "user/coder:q4", "size": 60000001, "digest": "%2"}]})")
                              .arg(hex('9'), hex('e'))
                              .toUtf8());
        LocalAISources sources;
        sources.ollamaUrl = server.url();
        sources.searchPath = QStringList{};
        sources.homePath = tree.path(QStringLiteral("home"));
        sources.ollamaBlobDirs = QStringList{blobs};
        sources.huggingFaceHub = hub;
        LocalAIService service(sources, LocalAIService::Polling::Manual);
        service.setDemoMode(false);
        await([&](auto done) { service.updateModels(done); });
        QCOMPARE(service.activeModels().size(), 2);
        QCOMPARE(service.activeModels()[0].digest, hex('9'));

        QSignalSpy lines(&service, &LocalAIService::logged);
        const auto purge = [&](const QString &path) { await([&](auto done) { service.purgeModelCacheFile(path, done); }); };
        purge(weights);
        QVERIFY(QFileInfo::exists(weights));
        QCOMPARE(lines.count(), 1);
        QCOMPARE(lines[0][0].toString(),
                 QStringLiteral("Refused: sha256-%1 is in use by the loaded model llama3:8b").arg(hex('a')));
        purge(hubCopy);
        QVERIFY(QFileInfo::exists(hubCopy));
        QCOMPARE(lines.count(), 2);
        QCOMPARE(lines[1][0].toString(), QStringLiteral("Refused: %1 is in use by the loaded model llama3:8b").arg(hex('a')));
        // A folder goes with what is inside it, so the copy inside keeps it too.
        purge(hub + QStringLiteral("/models--org--llama"));
        QVERIFY(QFileInfo::exists(hubCopy));
        QCOMPARE(lines.count(), 3);
        // The server's digest names a blob too, with no manifest on disk to list it.
        purge(byPsDigest);
        QVERIFY(QFileInfo::exists(byPsDigest));
        QCOMPARE(lines.count(), 4);
        QVERIFY(lines[3][0].toString().endsWith(QStringLiteral("the loaded model user/coder:q4")));

        purge(unused);
        purge(hubOther);
        QVERIFY(!QFileInfo::exists(unused));
        QVERIFY(!QFileInfo::exists(hubOther));
        QCOMPARE(lines.count(), 4);

        // Once the model is unloaded, its hub copy may go; Ollama's own name keeps the weights.
        server.reply(200, R"({"models": []})");
        await([&](auto done) { service.updateModels(done); });
        purge(hubCopy);
        QVERIFY(!QFileInfo::exists(hubCopy));
        QVERIFY(QFileInfo::exists(weights));
        QCOMPARE(lines.count(), 4);
    }
};

QTEST_GUILESS_MAIN(TestModelInUse)
#include "tst_ModelInUse.moc"
