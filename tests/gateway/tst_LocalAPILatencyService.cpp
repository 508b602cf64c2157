#include "gateway/LocalAPILatencyService.h"
#include "support/LoopbackPeers.h"

#include <QSignalSpy>
#include <QTest>

namespace {
LocalPortInfo portRow(int port, const char *name, int pid)
{
    return LocalPortInfo{port, QString::fromUtf8(name), pid, QStringLiteral("127.0.0.1")};
}
}

class TestLocalAPILatencyService : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void demoModeShowsTheSampleRows()
    {
        bool demo = true;
        LatencySources sources;
        sources.demoMode = [&demo] { return demo; };
        sources.ports = [] { return QList<LocalPortInfo>{portRow(1, "x", 1)}; };
        LocalAPILatencyService service(sources, LocalAPILatencyService::Polling::Manual);
        bool done = false;
        service.measureLatencies([&done] { done = true; });
        QVERIFY(done);
        const QList<PortLatencyInfo> rows = service.activePortLatencies();
        QCOMPARE(rows.size(), 5);
        const QList<int> ports{11434, 5432, 6379, 3000, 8000};   // in table order, not sorted
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(rows[i].port, ports[i]);
            QCOMPARE(rows[i].status, QStringLiteral("Online"));
        }
        QCOMPARE(rows[3].processName, QStringLiteral("node (next-dev)"));
        QCOMPARE(rows[4].latencyMs, 12.1);
        QCOMPARE(rows[0].id(), QStringLiteral("11434-90281"));

        // Live with nothing listening: an empty list, announced.
        demo = false;
        sources.ports = {};
        LocalAPILatencyService live(sources, LocalAPILatencyService::Polling::Manual);
        QSignalSpy changed(&live, &LocalAPILatencyService::activePortLatenciesChanged);
        done = false;
        live.measureLatencies([&done] { done = true; });
        QVERIFY(done);
        QCOMPARE(changed.count(), 1);
        QVERIFY(live.activePortLatencies().isEmpty());
    }

    void probesRealPortsInPortOrder()
    {
        ScriptedServer listener([](QTcpSocket *) {});
        FullBacklogListener silent;
        QVERIFY(silent.isFull());
        const quint16 closed = closedPort();
        QList<LocalPortInfo> rows{portRow(silent.port(), "stuck", 30), portRow(listener.port(), "uvicorn", 10),
                                  portRow(closed, "gone", 20), portRow(listener.port(), "again", 11)};
        // Given highest port first, so the sort has work to do.
        std::sort(rows.begin(), rows.end(), [](const LocalPortInfo &a, const LocalPortInfo &b) { return a.port > b.port; });
        const QList<LocalPortInfo> given = rows;

        LatencySources sources;
        sources.ports = [&rows] { return rows; };
        LocalAPILatencyService service(sources, LocalAPILatencyService::Polling::Manual);
        bool done = false;
        service.measureLatencies([&done] { done = true; });
        QVERIFY(!done);   // the sweep goes on in the event loop, not in the call
        QVERIFY(QTest::qWaitFor([&done] { return done; }, 5000));

        const QList<PortLatencyInfo> results = service.activePortLatencies();
        QCOMPARE(results.size(), 4);
        for (qsizetype i = 1; i < results.size(); ++i)
            QVERIFY(results[i - 1].port <= results[i].port);
        QList<QString> sameListener;
        for (const PortLatencyInfo &r : results) {
            if (r.port == listener.port()) {
                QCOMPARE(r.status, QStringLiteral("Online"));
                QVERIFY(r.latencyMs > 0 && r.latencyMs < LocalAPILatencyService::kProbeDeadlineMs);
                sameListener << r.processName;
            } else {
                QCOMPARE(r.status, QStringLiteral("Offline"));
                QCOMPARE(r.latencyMs, 0.0);
            }
            if (r.port == silent.port())
                QCOMPARE(r.pid, 30);
        }
        // Equal ports keep the order they were given in.
        QStringList expected;
        for (const LocalPortInfo &row : given)
            if (row.port == listener.port())
                expected << row.processName;
        QCOMPARE(sameListener, expected);
    }

    void pingAnswersOnceWithinTheDeadline()
    {
        FullBacklogListener silent;
        QVERIFY(silent.isFull());
        LocalAPILatencyService service({}, LocalAPILatencyService::Polling::Manual);
        int answers = 0;
        bool online = true;
        QElapsedTimer clock;
        clock.start();
        service.pingLocalPort(silent.port(), [&](bool result) {
            ++answers;
            online = result;
        });
        QVERIFY(QTest::qWaitFor([&answers] { return answers > 0; }, 2000));
        const qint64 waited = clock.elapsed();
        QVERIFY(!online);
        QVERIFY2(waited >= LocalAPILatencyService::kProbeDeadlineMs - 20 && waited < 1000, qPrintable(QString::number(waited)));
        QTest::qWait(100);
        QCOMPARE(answers, 1);
    }
};

QTEST_GUILESS_MAIN(TestLocalAPILatencyService)
#include "tst_LocalAPILatencyService.moc"
