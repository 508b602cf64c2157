#include "support/HttpClient.h"
#include "support/LoopbackPeers.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

namespace {
// The headless exporter's environment: a home of its own, so its cache walk and settings
// stay in the test's folder, and nothing of a desktop.
QProcessEnvironment exporterEnvironment(const QString &home)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), home);
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
    env.remove(QStringLiteral("XDG_CACHE_HOME"));
    env.insert(QStringLiteral("OLLAMA_HOST"), QStringLiteral("127.0.0.1:%1").arg(closedPort()));
    // As on a server: no display, and no Qt platform named either.
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QLatin1String(name));
    return env;
}

QStringList sampleNamesOf(const QByteArray &exposition)
{
    QStringList names;
    for (const QByteArray &line : exposition.split('\n')) {
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        const qsizetype end = line.indexOf(line.contains('{') ? '{' : ' ');
        names << QString::fromUtf8(line.left(end));
    }
    names.removeDuplicates();
    names.sort();
    return names;
}

// Prometheus's query API, answered as JSON; empty while it does not answer.
QJsonObject query(quint16 port, const QString &promql)
{
    const QByteArray target = "/api/v1/query?query=" + QUrl::toPercentEncoding(promql);
    const QByteArray response = exchange(port, "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n", 3000);
    return QJsonDocument::fromJson(bodyOf(response)).object();
}

QJsonArray resultOf(const QJsonObject &answer)
{
    return answer.value("data").toObject().value("result").toArray();
}

// Sends and receives `bytes` over loopback, so lo's counters move.
void loopbackTraffic(qint64 bytes)
{
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress::LocalHost, 0));
    QTcpSocket client;
    client.connectToHost(QHostAddress::LocalHost, server.serverPort());
    QVERIFY(client.waitForConnected(3000));
    QVERIFY(server.waitForNewConnection(3000));
    QTcpSocket *peer = server.nextPendingConnection();
    const QByteArray chunk(64 * 1024, 'q');
    qint64 received = 0;
    for (qint64 sent = 0; sent < bytes; sent += chunk.size()) {
        client.write(chunk);
        client.waitForBytesWritten(1000);
        while (peer->waitForReadyRead(50))
            received += peer->readAll().size();
    }
    QVERIFY(received > 0);
}
}

class TestExporter : public QObject
{
    Q_OBJECT

    QTemporaryDir home;

    QByteArray once(const QString &format)
    {
        QProcess exporter;
        exporter.setProcessEnvironment(exporterEnvironment(home.path()));
        exporter.start(QStringLiteral(QUILLMOOR_EXPORTER_PATH), {"--once", "--format", format});
        if (!exporter.waitForFinished(30000) || exporter.exitCode() != 0) {
            qWarning() << exporter.readAllStandardError();
            return {};
        }
        return exporter.readAllStandardOutput();
    }

private Q_SLOTS:
    void oneShotOutputs()
    {
        const QByteArray open = once("openmetrics");
        QVERIFY(open.endsWith("# EOF\n"));
        const QByteArray json = once("json");
        QJsonParseError error{};
        const QJsonDocument document = QJsonDocument::fromJson(json, &error);
        QVERIFY2(error.error == QJsonParseError::NoError, qPrintable(error.errorString()));
        const QJsonObject metrics = document.object().value("metrics").toObject();
        QStringList jsonNames = metrics.keys();
        jsonNames.sort();
        // The same figures in both: every family of the text is in the JSON and back.
        QCOMPARE(jsonNames, sampleNamesOf(open));
        QVERIFY(jsonNames.contains("quillmoor_cpu_usage_ratio"));
        const double usage = metrics.value("quillmoor_cpu_usage_ratio").toArray().at(0).toObject().value("value").toDouble(-1);
        QVERIFY(usage >= 0 && usage <= 1);
        // Ollama is looked for on a closed port: down, said as a measured 0.
        QVERIFY(jsonNames.contains("quillmoor_ollama_up"));
        QCOMPARE(metrics.value("quillmoor_ollama_up").toArray().at(0).toObject().value("value").toDouble(-1), 0.0);
        // Walking caches takes too long for a status bar: one-shot output leaves them out.
        QVERIFY(!jsonNames.contains("quillmoor_cache_size_bytes"));

        const QByteArray classic = once("prometheus");
        QVERIFY(!classic.contains("# EOF"));
        const QByteArray problems = promtoolProblems(classic);
        QVERIFY2(problems.isEmpty(), problems.constData());

        QProcess bad;
        bad.start(QStringLiteral(QUILLMOOR_EXPORTER_PATH), {"--once", "--format", "xml"});
        QVERIFY(bad.waitForFinished(10000));
        QCOMPARE(bad.exitCode(), 2);
        QVERIFY(bad.readAllStandardError().contains("unknown format"));
    }

    // The exporter scraped by a real Prometheus server every second, then asked through
    // Prometheus's own query API.
    void scrapedByPrometheus()
    {
        const QString prometheusBinary = QStandardPaths::findExecutable(QStringLiteral("prometheus"));
        QVERIFY2(!prometheusBinary.isEmpty(), "prometheus is not installed: ./scripts/deps installs it");

        QProcess exporter;
        exporter.setProcessEnvironment(exporterEnvironment(home.path()));
        exporter.start(QStringLiteral(QUILLMOOR_EXPORTER_PATH), {"--listen", "127.0.0.1:0"});
        // Its first words may be the services' own log lines; the address follows them.
        const QRegularExpression servingLine(QStringLiteral("serving http://127\\.0\\.0\\.1:(\\d+)/metrics"));
        QByteArray said;
        QRegularExpressionMatch serving;
        QVERIFY(QTest::qWaitFor([&] {
            exporter.waitForReadyRead(100);
            said += exporter.readAllStandardOutput();
            serving = servingLine.match(QString::fromUtf8(said));
            return serving.hasMatch();
        }, 10000));
        const quint16 exporterPort = serving.captured(1).toUShort();

        // promtool on the live endpoint too, before Prometheus starts scraping it.
        const QByteArray problems = promtoolProblems(bodyOf(scrape(exporterPort)));
        QVERIFY2(problems.isEmpty(), problems.constData());

        QTemporaryDir data;
        const quint16 prometheusPort = closedPort();
        QFile config(data.filePath("prometheus.yml"));
        QVERIFY(config.open(QIODevice::WriteOnly));
        config.write(QStringLiteral("global:\n  scrape_interval: 1s\n  evaluation_interval: 1s\n"
                                    "scrape_configs:\n  - job_name: quillmoor\n    scrape_timeout: 1s\n"
                                    "    static_configs:\n      - targets: ['127.0.0.1:%1']\n")
                         .arg(exporterPort).toUtf8());
        config.close();
        QProcess prometheus;
        prometheus.setProcessChannelMode(QProcess::MergedChannels);
        prometheus.start(prometheusBinary, {"--config.file=" + config.fileName(), "--storage.tsdb.path=" + data.filePath("tsdb"),
                                            QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(prometheusPort)});
        QVERIFY(prometheus.waitForStarted(10000));
        const auto stopBoth = qScopeGuard([&] {
            prometheus.terminate();
            prometheus.waitForFinished(10000);
            exporter.terminate();
            exporter.waitForFinished(10000);
        });

        // Bounded: the first scrape lands within a few seconds of Prometheus starting.
        QElapsedTimer clock;
        clock.start();
        const auto waitFor = [&](const QString &promql, const std::function<bool(const QJsonArray &)> &good) {
            while (clock.elapsed() < 30000) {
                const QJsonArray result = resultOf(query(prometheusPort, promql));
                if (!result.isEmpty() && good(result))
                    return true;
                QTest::qWait(250);
            }
            return false;
        };
        const auto valueIs = [](const QJsonArray &r, auto test) {
            return test(r.at(0).toObject().value("value").toArray().at(1).toString().toDouble());
        };
        QVERIFY2(waitFor(QStringLiteral("up{job=\"quillmoor\"}"), [&](const QJsonArray &r) { return valueIs(r, [](double v) { return v == 1; }); }),
                 prometheus.readAll().right(2000).constData());
        QVERIFY(waitFor(QStringLiteral("quillmoor_cpu_usage_ratio"), [&](const QJsonArray &r) {
            return valueIs(r, [](double v) { return v >= 0 && v <= 1; });
        }));
        // Traffic the test itself sends over loopback shows as a rate over the last 5 s.
        const auto moving = [&](const QJsonArray &r) { return valueIs(r, [](double v) { return v > 0; }); };
        bool rated = false;
        while (!rated && clock.elapsed() < 30000) {
            loopbackTraffic(4 * 1024 * 1024);
            rated = !resultOf(query(prometheusPort, QStringLiteral("rate(quillmoor_network_receive_bytes_total{device=\"lo\"}[5s])"))).isEmpty()
                    && moving(resultOf(query(prometheusPort, QStringLiteral("rate(quillmoor_network_receive_bytes_total{device=\"lo\"}[5s])"))));
            if (!rated)
                QTest::qWait(500);
        }
        QVERIFY2(rated, "no rate of loopback traffic within 30 s");

        // `systemctl --user stop` sends SIGTERM: the exporter ends as a clean exit.
        exporter.terminate();
        QVERIFY(exporter.waitForFinished(10000));
        QCOMPARE(exporter.exitStatus(), QProcess::NormalExit);
        QCOMPARE(exporter.exitCode(), 0);
    }

    // A logout sends the app SIGTERM too; it quits as its own Quit does.
    void appEndsCleanlyWhenTerminated()
    {
        QProcessEnvironment env = exporterEnvironment(home.path());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        // The app asks an address service for the public address: in a network namespace of
        // its own nothing it sends leaves the machine. unshare execs the app in its own place,
        // so the signal reaches the app itself.
        QProcess probe;
        probe.start(QStringLiteral("unshare"), {"-rn", "true"});
        if (!probe.waitForFinished(5000) || probe.exitStatus() != QProcess::NormalExit || probe.exitCode() != 0)
            QSKIP("no network namespace can be made here (unshare -rn)");
        QProcess app;
        app.setProcessEnvironment(env);
        app.start(QStringLiteral("unshare"), {"-rn", "--", QStringLiteral(QUILLMOOR_APP_PATH)});
        QVERIFY(app.waitForStarted(10000));
        QTest::qWait(2000);
        QCOMPARE(app.state(), QProcess::Running);
        app.terminate();
        QVERIFY(app.waitForFinished(20000));
        QCOMPARE(app.exitStatus(), QProcess::NormalExit);
        QCOMPARE(app.exitCode(), 0);
    }

    void appWithoutADesktopSaysWhatToUse()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QLatin1String(name));
        QProcess app;
        app.setProcessEnvironment(env);
        app.start(QStringLiteral(QUILLMOOR_APP_PATH), {});
        QVERIFY(app.waitForFinished(20000));
        QCOMPARE(app.exitStatus(), QProcess::NormalExit);
        QCOMPARE(app.exitCode(), 1);
        const QByteArray said = app.readAllStandardError();
        QVERIFY2(said.contains("needs a desktop session") && said.contains("quillmoor-exporter"), said.constData());
        QCOMPARE(said.count('\n'), 1);
    }
};

QTEST_GUILESS_MAIN(TestExporter)
#include "tst_Exporter.moc"
