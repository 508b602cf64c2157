// Where a model would run, judged from its size against the memory free and what the
// loaded models would release: each boundary of the rule from both sides, one byte apart.

#include "localai/InstalledModelWatch.h"
#include "localai/ModelFit.h"

#include <QTest>

#include <limits>

namespace {
constexpr qint64 GiB = 1024LL * 1024 * 1024;

LocalAIModel loaded(const char *name, qint64 size, qint64 sizeVram)
{
    LocalAIModel model;
    model.name = QLatin1String(name);
    model.size = size;
    model.sizeVram = sizeVram;
    return model;
}

InstalledModel installed(const char *name, qint64 size)
{
    InstalledModel model;
    model.name = QLatin1String(name);
    model.size = size;
    return model;
}
}

class TestModelFit : public QObject
{
    Q_OBJECT

    QDateTime clock = QDateTime(QDate(2026, 12, 8), QTime(12, 0), Qt::UTC);

private Q_SLOTS:
    void verdictAtEachBoundary_data()
    {
        QTest::addColumn<qint64>("need");
        QTest::addColumn<qint64>("gpu");   // -1: no GPU figure
        QTest::addColumn<qint64>("ram");
        QTest::addColumn<QString>("verdict");
        const qint64 G = 8 * GiB, R = 16 * GiB;
        const QString gpu = ModelFit::fitsInGpu(), split = ModelFit::splits(), cpu = ModelFit::cpuOnly(),
                      none = ModelFit::willNotFit();

        QTest::newRow("need = GPU") << G << G << R << gpu;
        QTest::newRow("need = GPU + 1") << G + 1 << G << R << split;
        QTest::newRow("need = GPU + RAM") << G + R << G << R << split;
        QTest::newRow("need = GPU + RAM + 1") << G + R + 1 << G << R << none;

        // The GPU offers memory from kMinGpuOffer up; below, a model that would fit there
        // runs on the CPU.
        const qint64 offer = ModelFit::kMinGpuOffer;
        QTest::newRow("GPU at the least offer") << offer << offer << R << gpu;
        QTest::newRow("GPU a byte under the offer") << offer - 1 << offer - 1 << R << cpu;
        QTest::newRow("GPU under the offer, beyond RAM") << R + 1 << offer - 1 << R << none;

        // A split needs the GPU to take a tenth; less, and a model that fits in system
        // memory reads CPU only.
        QTest::newRow("GPU takes a tenth") << 10 * GiB << 1 * GiB << 64 * GiB << split;
        QTest::newRow("GPU takes a byte under a tenth") << 10 * GiB + 1 << 1 * GiB << 64 * GiB << cpu;
        // ... unless system memory alone cannot hold it: then it can only split.
        QTest::newRow("small share, RAM too small") << 20 * GiB + 1 << 1 * GiB << 20 * GiB << split;
        QTest::newRow("small share, all too small") << 21 * GiB + 1 << 1 * GiB << 20 * GiB << none;

        // Without a GPU figure only system memory counts.
        QTest::newRow("no GPU, need = RAM") << R << qint64(-1) << R << cpu;
        QTest::newRow("no GPU, need = RAM + 1") << R + 1 << qint64(-1) << R << none;
        QTest::newRow("no GPU, small model") << qint64(1) << qint64(-1) << R << cpu;
        QTest::newRow("GPU with nothing free") << 4 * GiB << qint64(0) << R << cpu;

        QTest::newRow("no size says nothing") << qint64(0) << G << R << QString();
        const qint64 top = std::numeric_limits<qint64>::max();
        QTest::newRow("figures near the top do not overflow") << top << G << top - 1 << split;
    }
    void verdictAtEachBoundary()
    {
        QFETCH(qint64, need);
        QFETCH(qint64, gpu);
        QFETCH(qint64, ram);
        QFETCH(QString, verdict);
        FitBudget budget;
        if (gpu >= 0)
            budget.gpu = gpu;
        budget.ram = ram;
        QCOMPARE(ModelFit::verdict(need, budget), verdict);
    }

    // The loaded models count as released: size_vram back to the GPU, the rest of their
    // size to system memory, each side capped at its total. Without GPU figures their
    // GPU share counts nowhere.
    void loadedModelsReleaseTheirMemory()
    {
        const FreeMemory free{2 * GiB, 8 * GiB, 10 * GiB, 32 * GiB};
        const QList<LocalAIModel> two{loaded("a", 4 * GiB, 3 * GiB), loaded("b", 2 * GiB, 0)};
        QCOMPARE(ModelFit::budget(free, {}), (FitBudget{2 * GiB, 10 * GiB}));
        QCOMPARE(ModelFit::budget(free, two), (FitBudget{5 * GiB, 13 * GiB}));

        // A server's size_vram beyond its size counts as the whole size in the GPU.
        QCOMPARE(ModelFit::budget(free, {loaded("odd", 1 * GiB, 3 * GiB)}), (FitBudget{3 * GiB, 10 * GiB}));
        // Capped at the totals: a model loaded on another GPU cannot make this one bigger.
        QCOMPARE(ModelFit::budget(free, {loaded("big", 30 * GiB, 7 * GiB)}), (FitBudget{8 * GiB, 32 * GiB}));
        QCOMPARE(ModelFit::budget(free, {loaded("edge", 28 * GiB, 6 * GiB)}), (FitBudget{8 * GiB, 32 * GiB}));
        QCOMPARE(ModelFit::budget(free, {loaded("over", 28 * GiB + 2, 6 * GiB + 1)}), (FitBudget{8 * GiB, 32 * GiB}));

        const FreeMemory noGpu{std::nullopt, std::nullopt, 10 * GiB, 32 * GiB};
        QCOMPARE(ModelFit::budget(noGpu, two), (FitBudget{std::nullopt, 13 * GiB}));
    }

    // A model judged while loaded counts its own memory as released: one that fills the
    // GPU fits in it, though the driver reports the GPU nearly full.
    void aLoadedModelFitsWhereItSits()
    {
        InstalledModelWatch watch([this] { return clock; });
        watch.setMemory(FreeMemory{GiB / 2, 8 * GiB, 16 * GiB, 32 * GiB});
        watch.setListing({installed("coder:7b", 7 * GiB)});
        QCOMPARE(watch.rows().first().fit, ModelFit::cpuOnly());
        QVERIFY(!watch.rows().first().loaded);
        const InstalledModelWatch::Changes changes = watch.setLoaded({loaded("coder:7b", 7 * GiB + GiB / 2, 7 * GiB + GiB / 2)});
        QVERIFY(changes.rows && changes.budget);
        QCOMPARE(watch.rows().first().fit, ModelFit::fitsInGpu());
        QVERIFY(watch.rows().first().loaded);
    }

    // Verdicts follow the figures; a change that moves no verdict touches only the budget,
    // and the rows are left alone. Without figures, or for a remote model, no verdict.
    void verdictsFollowTheFigures()
    {
        InstalledModelWatch watch([this] { return clock; });
        InstalledModel cloud = installed("gpt-oss:120b-cloud", 384);
        cloud.remote = true;
        watch.setListing({installed("llama3:8b", 5 * GiB), cloud});
        QCOMPARE(watch.rows()[0].fit, QString());
        QVERIFY(!watch.budget());

        InstalledModelWatch::Changes changes = watch.setMemory(FreeMemory{6 * GiB, 8 * GiB, 10 * GiB, 16 * GiB});
        QVERIFY(changes.rows && changes.budget);
        QCOMPARE(watch.rows()[0].fit, ModelFit::fitsInGpu());
        QCOMPARE(watch.rows()[1].fit, QString());

        changes = watch.setMemory(FreeMemory{6 * GiB - 1, 8 * GiB, 10 * GiB, 16 * GiB});
        QVERIFY(!changes.rows && changes.budget);
        changes = watch.setMemory(FreeMemory{6 * GiB - 1, 8 * GiB, 10 * GiB, 16 * GiB});
        QVERIFY(!changes.rows && !changes.budget);
        changes = watch.setMemory(FreeMemory{5 * GiB - 1, 8 * GiB, 10 * GiB, 16 * GiB});
        QVERIFY(changes.rows);
        QCOMPARE(watch.rows()[0].fit, ModelFit::splits());

        changes = watch.setMemory(std::nullopt);
        QVERIFY(changes.rows && changes.budget);
        QCOMPARE(watch.rows()[0].fit, QString());
    }

    // The pace: a read at first, none again for kRefreshSecs, sooner when the server comes
    // up, the model store changes or a loaded model is missing from the list; never two
    // at once.
    void readsAtAGentlePace()
    {
        InstalledModelWatch watch([this] { return clock; });
        QVERIFY(watch.due());
        watch.started();
        QVERIFY(!watch.due());
        watch.request();
        QVERIFY(!watch.due());   // not while one is under way
        watch.finished();
        QVERIFY(watch.due());    // asked for during the read
        watch.started();
        watch.finished();
        QVERIFY(!watch.due());
        const QDateTime read = clock;
        clock = read.addSecs(InstalledModelWatch::kRefreshSecs - 1);
        QVERIFY(!watch.due());
        clock = read.addSecs(InstalledModelWatch::kRefreshSecs);
        QVERIFY(watch.due());
        watch.started();
        watch.finished();

        watch.noticeStatus(false, false);
        watch.noticeStatus(true, true);
        watch.noticeStatus(false, true);
        QVERIFY(!watch.due());
        watch.noticeStatus(true, false);
        QVERIFY(watch.due());
        watch.started();
        watch.finished();

        // The first scan of the store is only remembered; the same files again say nothing.
        watch.noticeStoreFiles({"/m/blobs/sha256-b", "/m/blobs/sha256-a"});
        watch.noticeStoreFiles({"/m/blobs/sha256-a", "/m/blobs/sha256-b"});
        QVERIFY(!watch.due());
        watch.noticeStoreFiles({"/m/blobs/sha256-a"});
        QVERIFY(watch.due());
        watch.started();
        watch.finished();

        watch.setListing({installed("llama3:8b", GiB)});
        watch.setLoaded({loaded("llama3:8b", GiB, 0)});
        QVERIFY(!watch.due());
        watch.setLoaded({loaded("llama3:8b", GiB, 0), loaded("pulled:new", GiB, 0)});
        QVERIFY(watch.due());
    }
};

QTEST_GUILESS_MAIN(TestModelFit)
#include "tst_ModelFit.moc"
