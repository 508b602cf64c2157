#include "support/QmlPageHarness.h"
#include "support/ScreenFixture.h"

#include <QDir>
#include <QFile>
#include <QQuickItem>
#include <QTest>

#include <fcntl.h>
#include <unistd.h>

// The co-pilot and help-guide pages over the fixture machine's real services: which audit
// cards show for which figures, what their buttons may do here, the question box and the
// health report.
class TestCoPilotPage : public QObject
{
    Q_OBJECT

    std::unique_ptr<ScreenFixture> machine;
    std::unique_ptr<QmlPageHarness> ui;

    static QObject *child(QObject *root, const char *name) { return QmlPageHarness::child(root, name); }
    static QString text(QObject *root, const char *name) { return QmlPageHarness::text(root, name); }
    static bool shown(QObject *o) { return o && o->property("visible").toBool(); }
    static QObject *action(QObject *card) { return child(card, "alertAction"); }

    QString derivedData() const { return machine->tree.path(QStringLiteral("Library/Developer/Xcode/DerivedData")); }
    // A build product of `bytes` allocated on disk (as the cache sizing counts) without
    // writing them.
    bool writeBuildProduct(qint64 bytes)
    {
        QDir().mkpath(derivedData());
        const QByteArray path = QFile::encodeName(derivedData() + QStringLiteral("/Product.o"));
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0)
            return false;
        const bool ok = ::posix_fallocate(fd, 0, bytes) == 0;
        ::close(fd);
        return ok;
    }
    void rescan()
    {
        bool done = false;
        machine->cacheService()->scanCaches([&done] { done = true; });
        QTRY_VERIFY_WITH_TIMEOUT(done, 10000);
    }

private Q_SLOTS:
    void init()
    {
        machine = std::make_unique<ScreenFixture>();
        machine->preferences->setHasCompletedOnboardingTour(true);
        machine->aiWorkspace()->setDemoMode(false);
        ui = std::make_unique<QmlPageHarness>(machine->services());
    }
    void cleanup()
    {
        const QStringList warnings = QmlPageHarness::warnings();
        ui.reset();
        machine.reset();
        QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join(QLatin1Char('\n'))));
    }

    // The build-cache card speaks up for an empty folder and above 1 GiB, not in between;
    // its figure is the folder's, it names the folder, and pruning asks first.
    void buildCacheCardFollowsTheFolder()
    {
        rescan();
        QQuickItem *page = ui->load(QStringLiteral("CoPilotPage"));
        QVERIFY(page);
        QObject *card = child(page, "buildCacheCard");
        QVERIFY(card);

        // Nothing there: shown, but without a sample figure, and with nothing to prune.
        QVERIFY(shown(card));
        QVERIFY(!text(card, "alertText").contains(QStringLiteral("GB")));
        QVERIFY(text(card, "alertText").contains(QStringLiteral("Library/Developer/Xcode/DerivedData)")));
        QVERIFY(!action(card)->property("enabled").toBool());
        QVERIFY(!card->property("disabledReason").toString().isEmpty());

        QVERIFY(writeBuildProduct(512LL << 20));
        rescan();
        QVERIFY(!shown(card));

        QVERIFY(writeBuildProduct((1LL << 30) + (1LL << 20)));
        rescan();
        QVERIFY(shown(card));
        const qint64 size = machine->cacheService()->derivedDataSize();
        QVERIFY(size > (1LL << 30));
        QVERIFY2(text(card, "alertText").contains(QString::number(double(size) / (1LL << 30), 'f', 2) + QStringLiteral(" GB")),
                 qPrintable(text(card, "alertText")));
        QVERIFY(action(card)->property("enabled").toBool());

        // Pruning asks, naming the folder and the size; cancelling keeps the files.
        QMetaObject::invokeMethod(action(card), "clicked");
        QObject *confirm = child(page, "confirmDelete");
        QTRY_VERIFY(confirm->property("opened").toBool());
        const QString question = confirm->property("question").toString();
        QVERIFY2(question.contains(QStringLiteral("Library/Developer/Xcode/DerivedData")), qPrintable(question));
        QVERIFY2(question.contains(QStringLiteral("GB")), qPrintable(question));
        QMetaObject::invokeMethod(confirm, "reject");
        QTRY_VERIFY(!confirm->property("opened").toBool());
        QVERIFY(QFile::exists(derivedData() + QStringLiteral("/Product.o")));

        // Accepting prunes the contents; the emptied folder brings the card back at nothing.
        QMetaObject::invokeMethod(action(card), "clicked");
        QTRY_VERIFY(confirm->property("opened").toBool());
        QMetaObject::invokeMethod(confirm, "accept");
        QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(derivedData() + QStringLiteral("/Product.o")), 10000);
        QTRY_COMPARE(machine->cacheService()->derivedDataSize(), 0);
        QVERIFY(shown(card));
        QVERIFY(!text(card, "alertText").contains(QStringLiteral("GB")));
    }

    // The other cards show live figures only while their finding holds, and the demo's
    // samples only with the demo switch on. Actions this machine cannot take are disabled
    // with the reason.
    void cardsShowLiveFiguresAndHonestButtons()
    {
        QQuickItem *page = ui->load(QStringLiteral("CoPilotPage"));
        QVERIFY(page);
        QObject *thermal = child(page, "thermalCard");
        QObject *containers = child(page, "containerCard");
        QObject *model = child(page, "modelCard");

        // 61.7 °C, no containers, no models: none of the three.
        QVERIFY(!shown(thermal));
        QVERIFY(!shown(containers));
        QVERIFY(!shown(model));

        machine->tree.write("sys/class/hwmon/hwmon0/temp1_input", "85900\n");
        machine->sample({10, 10, 10, 10});
        QVERIFY(shown(thermal));
        QCOMPARE(text(thermal, "alertText"),
                 QStringLiteral("CPU package temperature is operating at 85°C. Engage turbo cooling to prevent thermal throttling."));
        // The fixture has a fan sensor but no PWM output to drive.
        QVERIFY(!machine->stats->turboCoolingAvailable());
        QVERIFY(!action(thermal)->property("enabled").toBool());
        QVERIFY(thermal->property("disabledReason").toString().contains(QStringLiteral("PWM")));

        // The demo switch brings the sample model name, and no eject for a model not loaded.
        machine->aiWorkspace()->setDemoMode(true);
        QVERIFY(shown(model));
        QVERIFY(text(model, "alertText").contains(QStringLiteral("'deepseek-r1:7b'")));
        QVERIFY(!action(model)->property("enabled").toBool());
        // The container card's VM stop: no colima on the fixture's path.
        QVERIFY(shown(containers));
        QVERIFY(!action(containers)->property("enabled").toBool());
        QVERIFY(!containers->property("disabledReason").toString().isEmpty());
        // With an empty cache folder the demo shows its sample size.
        QVERIFY(text(child(page, "buildCacheCard"), "alertText").contains(QStringLiteral("4.82 GB")));

        // Once the workspace lists its (sample) models and containers, the cards name them.
        bool passed = false;
        QVERIFY(machine->aiWorkspace()->runPass([&passed] { passed = true; }));
        QTRY_VERIFY_WITH_TIMEOUT(passed, 10000);
        const QList<LocalAIModel> models = machine->aiWorkspace()->activeModels();
        QVERIFY(!models.isEmpty());
        QVERIFY(text(model, "alertText").contains(QLatin1Char('\'') + models.first().name + QLatin1Char('\'')));
        QVERIFY(text(model, "alertDetail").startsWith(QString::number(models.size()) + QStringLiteral(" model")));
        QVERIFY(action(model)->property("enabled").toBool());
        QString running;
        for (const VectorDatabaseInfo &db : machine->aiWorkspace()->activeVectorDBs())
            if (db.status == QLatin1String("Running") && running.isEmpty())
                running = db.name;
        QVERIFY(!running.isEmpty());
        QVERIFY(text(containers, "alertDetail").contains(running));
    }

    // A typed question goes to the co-pilot; its answer, built from the same rules, joins
    // the conversation under the question. The health report shows its thinking line first.
    void questionReachesTheCoPilotAndItsAnswerAppears()
    {
        QQuickItem *page = ui->load(QStringLiteral("CoPilotPage"));
        QVERIFY(page);
        QVERIFY(shown(child(page, "reportAnalyzing")));
        QCOMPARE(text(page, "reportAnalyzing"), QStringLiteral("Analyzing system telemetry..."));

        QObject *field = child(page, "chatField");
        QObject *send = child(page, "chatSend");
        QVERIFY(!send->property("enabled").toBool());
        field->setProperty("text", QStringLiteral("Why are my fans so loud?"));
        QVERIFY(send->property("enabled").toBool());
        QMetaObject::invokeMethod(send, "clicked");
        QCOMPARE(field->property("text").toString(), QString());
        QCOMPARE(text(child(page, "userLine"), "lineText"), QStringLiteral("Why are my fans so loud?"));
        QVERIFY(shown(child(page, "chatThinking")));
        QTRY_VERIFY_WITH_TIMEOUT(child(page, "copilotLine"), 5000);
        QCOMPARE(text(child(page, "copilotLine"), "lineText"),
                 AIService::answerFor(AIService::Topic::Thermal, CopilotTelemetry{}));
        QVERIFY(!shown(child(page, "chatThinking")));

        QTRY_VERIFY_WITH_TIMEOUT(shown(child(page, "reportText")), 5000);
        QVERIFY(!shown(child(page, "reportAnalyzing")));
        QCOMPARE(text(page, "reportText"),
                 AIService::healthReport(machine->stats->socTemperature(), machine->stats->memoryPressure(),
                                         machine->stats->hasBattery() ? machine->stats->batteryPercentage() : AIService::kNoBattery));
    }

    // The guide's nine sections describe this program on Linux, not another system.
    void guideDescribesThisProgram()
    {
        QQuickItem *page = ui->load(QStringLiteral("GuidePage"));
        QVERIFY(page);
        QCOMPARE(text(page, "guideTitle"), QStringLiteral("Quillmoor Operations Center"));
        const QList<QObject *> sections = QmlPageHarness::all(page, "guideSection");
        QCOMPARE(sections.size(), 9);
        QString all;
        for (QObject *section : sections)
            all += text(section, "guideSectionText") + QLatin1Char('\n');
        for (const char *word : {"macOS", "Mac ", "Apple", "Xcode"})
            QVERIFY2(!all.contains(QLatin1String(word)), word);
        for (const char *word : {"SIGSTOP", "SIGCONT", "/proc/net/tcp", "logind", "power-profiles-daemon"})
            QVERIFY2(all.contains(QLatin1String(word)), word);
    }
};

QTEST_MAIN(TestCoPilotPage)
#include "tst_CoPilotPage.moc"
