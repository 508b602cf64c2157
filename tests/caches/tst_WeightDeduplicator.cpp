#include "caches/BuildCacheService.h"
#include "caches/WeightDeduplicator.h"
#include "platform/FileLinker.h"
#include "support/FixtureTree.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {
// More than one comparison chunk, so a difference in the last byte is only seen at the end.
constexpr int kWeightBytes = 3 * 1024 * 1024 + 17;

QByteArray weights(quint32 seed)
{
    QByteArray bytes(kWeightBytes, 0);
    QRandomGenerator random(seed);
    random.fillRange(reinterpret_cast<quint32 *>(bytes.data()), bytes.size() / 4);
    return bytes;
}

QString sha256(const QByteArray &bytes) { return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex()); }

std::string local(const QString &path) { return QFile::encodeName(path).toStdString(); }

FileIdentity identity(const QString &path)
{
    const std::optional<FileIdentity> id = FileLinker::identify(local(path));
    if (!id)
        qFatal("no file at %s", qPrintable(path));
    return *id;
}

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void hardLink(const QString &from, const QString &to)
{
    QDir().mkpath(QFileInfo(to).path());
    QVERIFY(::link(local(from).c_str(), local(to).c_str()) == 0);
}

// Temporary names left behind in a folder by an interrupted link.
QStringList leftovers(const QString &root)
{
    QStringList found;
    QDirIterator it(root, {QStringLiteral(".*dedup-*")}, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        found.append(it.next());
    return found;
}
}

class TestWeightDeduplicator : public QObject
{
    Q_OBJECT

    std::unique_ptr<FixtureTree> tree;

    QString home() const { return tree->path(QStringLiteral("home")); }
    QString blobs() const { return tree->path(QStringLiteral("home/.ollama/models/blobs")); }
    QString hub() const { return tree->path(QStringLiteral("home/.cache/huggingface/hub")); }
    QString ollamaBlob(const QString &digest) const { return blobs() + QStringLiteral("/sha256-") + digest; }
    QString hubBlob(const QString &repo, const QString &digest) const { return hub() + u'/' + repo + QStringLiteral("/blobs/") + digest; }

    void put(const QString &path, const QByteArray &bytes) const { tree->write(QDir(tree->path()).relativeFilePath(path), bytes); }

    std::unique_ptr<BuildCacheService> service() const
    {
        BuildCacheSources s;
        s.homePath = home();
        s.environment = [](const char *) { return QString(); };
        s.ollamaServiceStores = {};
        return std::make_unique<BuildCacheService>(s, BuildCacheService::Polling::Manual);
    }

    static void find(BuildCacheService &caches)
    {
        QSignalSpy found(&caches, &BuildCacheService::duplicateWeightsFound);
        caches.findDuplicateWeights();
        QVERIFY(caches.isDeduplicating());
        QVERIFY(found.wait(10000));
        QCOMPARE(found.count(), 1);
        QVERIFY(!caches.isDeduplicating());
    }

    static void deduplicate(BuildCacheService &caches)
    {
        QSignalSpy finished(&caches, &BuildCacheService::deduplicationFinished);
        caches.deduplicateWeights();
        QVERIFY(caches.isDeduplicating());
        QVERIFY(finished.wait(10000));
        QCOMPARE(finished.count(), 1);
        QVERIFY(!caches.isDeduplicating());
    }

private Q_SLOTS:
    void init()
    {
        tree = std::make_unique<FixtureTree>();
        tree->mkdir(QStringLiteral("home"));
    }

    // The same weights pulled through Ollama and downloaded from the hub become one file
    // with two names; a different file beside them is left as it was.
    void linksTheSameWeightsInBothStores()
    {
        const QByteArray model = weights(1);
        const QString digest = sha256(model);
        put(ollamaBlob(digest), model);
        put(hubBlob(QStringLiteral("models--org--m"), digest), model);
        tree->mkdir(QStringLiteral("home/.cache/huggingface/hub/models--org--m/snapshots/main"));
        const QString snapshot = hub() + QStringLiteral("/models--org--m/snapshots/main/model.gguf");
        QVERIFY(QFile::link(QStringLiteral("../../blobs/") + digest, snapshot));
        const QByteArray other = weights(2);
        const QString otherPath = hubBlob(QStringLiteral("models--org--other"), sha256(other));
        put(otherPath, other);
        const FileIdentity otherBefore = identity(otherPath);
        const qint64 copyBlocks = identity(hubBlob(QStringLiteral("models--org--m"), digest)).allocated;
        QVERIFY(copyBlocks >= kWeightBytes);

        auto caches = service();
        QSignalSpy busy(caches.get(), &BuildCacheService::deduplicatingChanged);
        find(*caches);
        QCOMPARE(busy.count(), 2);
        const QList<DuplicateWeights> rows = caches->duplicateWeights();
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows[0].keptPath, ollamaBlob(digest));
        QCOMPARE(rows[0].replacedPath, hubBlob(QStringLiteral("models--org--m"), digest));
        QCOMPARE(rows[0].id(), rows[0].replacedPath);
        QCOMPARE(rows[0].keptStore, QStringLiteral("Ollama"));
        QCOMPARE(rows[0].replacedStore, QStringLiteral("HuggingFace"));
        QCOMPARE(rows[0].digest, digest);
        QCOMPARE(rows[0].size, qint64(kWeightBytes));
        QCOMPARE(rows[0].sizeInGB(), kWeightBytes / 1024.0 / 1024.0 / 1024.0);
        QCOMPARE(caches->duplicateBytes(), copyBlocks);
        QVERIFY(caches->deduplicationMessage().startsWith(QStringLiteral("Found 1 duplicate file")));

        QSignalSpy lines(caches.get(), &BuildCacheService::logged);
        deduplicate(*caches);
        QVERIFY(identity(ollamaBlob(digest)).sameFile(identity(rows[0].replacedPath)));
        QCOMPARE(identity(ollamaBlob(digest)).links, std::uint64_t(2));
        QCOMPARE(contents(ollamaBlob(digest)), model);
        QCOMPARE(contents(rows[0].replacedPath), model);
        QCOMPARE(contents(snapshot), model);
        QVERIFY(identity(otherPath).unchangedSince(otherBefore));
        QCOMPARE(contents(otherPath), other);
        QVERIFY(caches->duplicateWeights().isEmpty());
        QCOMPARE(caches->duplicateBytes(), qint64(0));
        QCOMPARE(caches->deduplicationMessage(), QStringLiteral("Reclaimed 0.00 GB by linking 1 duplicate file"));
        QCOMPARE(lines.count(), 0);
        QVERIFY(leftovers(tree->path()).isEmpty());

        // Linked now: a second search has nothing left to offer.
        find(*caches);
        QVERIFY(caches->duplicateWeights().isEmpty());
        QCOMPARE(caches->deduplicationMessage(), QStringLiteral("No duplicate weights found"));
    }

    // What comes back is measured from the replaced file's blocks, and only when its last
    // name went: a copy that another name keeps alive gives nothing back.
    void reclaimedBytesAreMeasured()
    {
        const QByteArray model = weights(3);
        const QString digest = sha256(model);
        put(ollamaBlob(digest), model);
        const QString freed = hubBlob(QStringLiteral("models--a--freed"), digest);
        const QString kept = hubBlob(QStringLiteral("models--a--kept"), digest);
        put(freed, model);
        put(kept, model);
        hardLink(kept, tree->path(QStringLiteral("home/Documents/my-copy.gguf")));

        QList<DuplicateWeights> rows = WeightDeduplicator::find({blobs()}, hub());
        QCOMPARE(rows.size(), 2);
        QCOMPARE(rows[0].replacedPath, freed);
        QCOMPARE(rows[0].reclaimableBytes, identity(freed).allocated);
        QCOMPARE(rows[1].replacedPath, kept);
        QCOMPARE(rows[1].reclaimableBytes, qint64(0));
        const qint64 expected = identity(freed).allocated;

        const WeightDeduplicator::Outcome outcome = WeightDeduplicator::apply(rows, {blobs(), hub()}, DeletionGuard(home()));
        QCOMPARE(outcome.linked, 2);
        QCOMPARE(outcome.reclaimed, expected);
        QVERIFY(outcome.leftAlone.isEmpty());
        QCOMPARE(identity(ollamaBlob(digest)).links, std::uint64_t(3));
        QCOMPARE(contents(tree->path(QStringLiteral("home/Documents/my-copy.gguf"))), model);
        QVERIFY(!identity(tree->path(QStringLiteral("home/Documents/my-copy.gguf"))).sameFile(identity(kept)));
        QCOMPARE(WeightDeduplicator::summary(outcome), QStringLiteral("Reclaimed 0.00 GB by linking 2 duplicate files"));

        // A copy outside the stores' folders is never replaced, whichever way round.
        const QByteArray loose = weights(4);
        put(ollamaBlob(sha256(loose)), loose);
        put(tree->path(QStringLiteral("elsewhere/copy")), loose);
        DuplicateWeights outside;
        outside.keptPath = ollamaBlob(sha256(loose));
        outside.replacedPath = tree->path(QStringLiteral("elsewhere/copy"));
        const WeightDeduplicator::Outcome refused =
            WeightDeduplicator::apply({outside}, {hub()}, DeletionGuard(home()));
        QCOMPARE(refused.linked, 0);
        QCOMPARE(refused.leftAlone.size(), 1);
        QVERIFY(refused.reasons[0].contains(QStringLiteral("neither lies inside a model store")));
        QVERIFY(!identity(outside.keptPath).sameFile(identity(outside.replacedPath)));
    }

    // A digest in a file name is only a claim: files that differ are never linked, and
    // pairs that are one file already are not offered.
    void refusesDifferentContentAndSkipsLinkedPairs()
    {
        const QByteArray model = weights(5);
        const QString digest = sha256(model);
        QByteArray tampered = model;
        tampered[tampered.size() - 1] = char(tampered.at(tampered.size() - 1) ^ 0x5a);
        put(ollamaBlob(digest), model);
        const QString liar = hubBlob(QStringLiteral("models--x--liar"), digest);
        put(liar, tampered);
        const FileIdentity ollamaBefore = identity(ollamaBlob(digest));
        const FileIdentity liarBefore = identity(liar);

        const QByteArray shared = weights(6);
        put(ollamaBlob(sha256(shared)), shared);
        hardLink(ollamaBlob(sha256(shared)), hubBlob(QStringLiteral("models--x--linked"), sha256(shared)));
        // Another size under the same name is another file, not a duplicate.
        put(hubBlob(QStringLiteral("models--x--short"), sha256(shared)), shared.left(100));

        auto caches = service();
        find(*caches);
        QCOMPARE(caches->duplicateWeights().size(), 1);
        QCOMPARE(caches->duplicateWeights()[0].replacedPath, liar);

        QSignalSpy lines(caches.get(), &BuildCacheService::logged);
        deduplicate(*caches);
        QVERIFY(identity(ollamaBlob(digest)).unchangedSince(ollamaBefore));
        QVERIFY(identity(liar).unchangedSince(liarBefore));
        QCOMPARE(contents(ollamaBlob(digest)), model);
        QCOMPARE(contents(liar), tampered);
        QCOMPARE(caches->duplicateWeights().size(), 1);   // still two files
        const QString message = caches->deduplicationMessage();
        QVERIFY2(message.startsWith(QStringLiteral("No duplicate file could be linked\n")), qPrintable(message));
        QVERIFY(message.contains(QStringLiteral("contents differ")));
        QVERIFY(message.contains(liar));
        QCOMPARE(lines.count(), 1);
        QVERIFY(leftovers(tree->path()).isEmpty());
    }

    void emptyStoresFindNothing()
    {
        auto caches = service();
        find(*caches);
        QVERIFY(caches->duplicateWeights().isEmpty());
        QCOMPARE(caches->duplicateBytes(), qint64(0));
        QCOMPARE(caches->deduplicationMessage(), QStringLiteral("No duplicate weights found"));

        // Folders that exist but hold no pair read the same; so does linking nothing.
        put(ollamaBlob(sha256("a")), "a");
        put(hubBlob(QStringLiteral("models--y"), sha256("b")), "b");
        put(hubBlob(QStringLiteral("datasets--y"), sha256("a")), "a");   // not a model repo
        find(*caches);
        QVERIFY(caches->duplicateWeights().isEmpty());
        QCOMPARE(caches->deduplicationMessage(), QStringLiteral("No duplicate weights found"));
        deduplicate(*caches);
        QCOMPARE(caches->deduplicationMessage(), QStringLiteral("No duplicate weights found"));

        // A second request while one runs is not a second search.
        QSignalSpy found(caches.get(), &BuildCacheService::duplicateWeightsFound);
        caches->findDuplicateWeights();
        caches->findDuplicateWeights();
        caches->deduplicateWeights();
        QVERIFY(found.wait(10000));
        QTest::qWait(50);
        QCOMPARE(found.count(), 1);
    }

    // The adapter itself: a name that no longer leads to the file compared is not
    // replaced, and a reflink either makes an equal copy or leaves the target alone.
    void linkerRefusesChangedFiles()
    {
        const QByteArray model = weights(7);
        const QString source = tree->path(QStringLiteral("a/source"));
        const QString target = tree->path(QStringLiteral("b/target"));
        put(source, model);
        put(target, model);
        QCOMPARE(FileLinker::compare(local(source), local(target)), FileLinker::Comparison::Same);
        int error = 0;
        QCOMPARE(FileLinker::compare(local(source), local(tree->path(QStringLiteral("none"))), &error),
                 FileLinker::Comparison::Unreadable);
        QCOMPARE(error, ENOENT);

        FileIdentity stale = identity(target);
        stale.modifiedNs -= 1'000'000'000;
        FileLinker::Replacement result =
            FileLinker::replace(local(source), identity(source), local(target), stale, FileLinker::Method::HardLink);
        QCOMPARE(result.error, ESTALE);
        QVERIFY(!identity(source).sameFile(identity(target)));
        QVERIFY(leftovers(tree->path()).isEmpty());

        const FileIdentity before = identity(target);
        result = FileLinker::replace(local(source), identity(source), local(target), before, FileLinker::Method::Reflink);
        if (result.error == 0) {
            QVERIFY(!identity(target).sameFile(before));
            QVERIFY(!identity(target).sameFile(identity(source)));
            QCOMPARE(result.freed, before.allocated);
        } else {
            QVERIFY(identity(target).unchangedSince(before));
        }
        QCOMPARE(contents(target), model);
        QVERIFY(leftovers(tree->path()).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestWeightDeduplicator)
#include "tst_WeightDeduplicator.moc"
