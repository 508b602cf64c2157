#include "support/QmlPageHarness.h"
#include "support/ScreenFixture.h"

#include <QDir>
#include <QFile>
#include <QQuickItem>
#include <QSet>
#include <QSignalSpy>
#include <QTest>

#include <fcntl.h>
#include <unistd.h>

// The guided tour over the dashboard, driven by its buttons with its demonstrations sped up
// to milliseconds: what it posts to the popover, which timers run when, how it ends and
// what it leaves behind.
class TestOnboardingTour : public QObject
{
    Q_OBJECT

    std::unique_ptr<ScreenFixture> machine;
    std::unique_ptr<QmlPageHarness> ui;
    // Every notification posted, in order, with its tab index where it has one (else -1).
    QList<std::pair<QString, int>> posted;

    static QObject *child(QObject *root, const char *name) { return QmlPageHarness::child(root, name); }
    static QString text(QObject *root, const char *name) { return QmlPageHarness::text(root, name); }

    QQuickItem *loadDashboard()
    {
        QQuickItem *dashboard = ui->load(QStringLiteral("SettingsView"), {{"initialTab", "Settings"}});
        if (QObject *tour = dashboard ? child(dashboard, "onboardingTour") : nullptr)
            speedUp(tour);
        return dashboard;
    }
    static void speedUp(QObject *tour)
    {
        for (const char *interval : {"presetIntervalMs", "cacheIntervalMs", "sidebarIntervalMs", "popoverIntervalMs"})
            tour->setProperty(interval, 15);
    }
    static void press(QObject *root, const char *button)
    {
        QObject *b = child(root, button);
        QVERIFY2(b, button);
        QVERIFY2(b->property("visible").toBool(), button);
        QMetaObject::invokeMethod(b, "clicked");
    }
    QStringList runningTimers(QObject *root) const
    {
        QStringList running;
        for (const char *timer : {"presetTimer", "cacheTimer", "sidebarTimer", "popoverTimer"})
            if (QObject *t = child(root, timer); t && t->property("running").toBool())
                running << QLatin1String(timer);
        return running;
    }
    QList<int> tabsPosted() const
    {
        QList<int> tabs;
        for (const auto &entry : posted)
            if (entry.first == NotificationCenter::TourUpdatePopoverTab)
                tabs << entry.second;
        return tabs;
    }
    int count(const QString &name) const
    {
        return int(std::count_if(posted.begin(), posted.end(), [&](const auto &e) { return e.first == name; }));
    }

private Q_SLOTS:
    void init()
    {
        machine = std::make_unique<ScreenFixture>();
        ui = std::make_unique<QmlPageHarness>(machine->services());
        posted.clear();
        connect(&machine->notifications, &NotificationCenter::posted, this, [this](const QString &name, const QVariantMap &info) {
            posted.append({name, info.contains(QStringLiteral("tabIndex")) ? info.value(QStringLiteral("tabIndex")).toInt() : -1});
        });
        ui->window->show();
        QVERIFY(QTest::qWaitForWindowExposed(ui->window.get()));
        ui->window->requestActivate();
    }
    void cleanup()
    {
        const QStringList warnings = QmlPageHarness::warnings();
        ui.reset();
        machine.reset();
        QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join(QLatin1Char('\n'))));
    }

    // Step 5 opens the popover and walks its tabs 0…4 and round again; the popover itself
    // follows. Back closes it and the walk stops; Next opens it afresh on the first tab;
    // "Get Started" ends the tour, closes the popover and leaves no timer behind.
    void popoverStepOpensCyclesAndCloses()
    {
        QQuickItem *popover = ui->load(QStringLiteral("PopoverView"));
        QVERIFY(popover);
        QList<int> popoverTabs;
        connect(&machine->notifications, &NotificationCenter::posted, this, [&](const QString &name, const QVariantMap &) {
            if (name == NotificationCenter::TourUpdatePopoverTab)
                popoverTabs << popover->property("selectedTab").toInt();
        });
        QQuickItem *dashboard = loadDashboard();
        QVERIFY(dashboard);
        QObject *tour = child(dashboard, "onboardingTour");
        QVERIFY(tour);
        QCOMPARE(text(dashboard, "tourTitle"), QStringLiteral("Welcome to Quillmoor"));
        QVERIFY(!child(dashboard, "tourBackButton")->property("visible").toBool());

        const QStringList titles{"Welcome to Quillmoor", "Workspace Personas", "Performance Profiles",
                                 "One-Click Cache Cleaners", "Interactive Navigation Tour", "Menu Bar Quick Control"};
        for (int step = 1; step <= 5; ++step) {
            press(dashboard, "tourNextButton");
            QCOMPARE(machine->preferences->onboardingTourStep(), step);
            QCOMPARE(text(dashboard, "tourTitle"), titles.at(step));
        }
        QCOMPARE(text(dashboard, "tourNextButton"), QStringLiteral("Get Started"));
        QCOMPARE(count(NotificationCenter::OpenPopover), 1);
        QTRY_VERIFY(tabsPosted().size() >= 7);
        QCOMPARE(tabsPosted().mid(0, 7), (QList<int>{0, 1, 2, 3, 4, 0, 1}));
        QCOMPARE(popoverTabs.mid(0, 7), (QList<int>{0, 1, 2, 3, 4, 0, 1}));
        QCOMPARE(runningTimers(dashboard), QStringList{"popoverTimer"});

        press(dashboard, "tourBackButton");
        QCOMPARE(machine->preferences->onboardingTourStep(), 4);
        QCOMPARE(count(NotificationCenter::ClosePopover), 1);
        QCOMPARE(runningTimers(dashboard), QStringList{"sidebarTimer"});
        const int tabsBefore = tabsPosted().size();
        QTest::qWait(80);
        QCOMPARE(tabsPosted().size(), tabsBefore);

        posted.clear();
        press(dashboard, "tourNextButton");
        QCOMPARE(posted.value(0).first, NotificationCenter::OpenPopover);
        QCOMPARE(posted.value(1), std::make_pair(NotificationCenter::TourUpdatePopoverTab, 0));

        press(dashboard, "tourNextButton");   // "Get Started"
        QVERIFY(machine->preferences->hasCompletedOnboardingTour());
        QVERIFY(!machine->preferences->showOnboardingTour());
        QCOMPARE(count(NotificationCenter::ClosePopover), 1);
        QmlPageHarness::dropUnloaded();
        QTRY_VERIFY(!child(dashboard, "onboardingTour"));
        const int after = int(posted.size());
        QTest::qWait(80);
        QCOMPARE(int(posted.size()), after);
    }

    // Step 4 walks the dashboard's own pages in the sidebar's order, and only step 4 does;
    // each demonstration runs only on its step and only while the window is on screen.
    void eachDemonstrationRunsOnlyOnItsStep()
    {
        QQuickItem *dashboard = loadDashboard();
        QVERIFY(dashboard);
        QObject *tour = child(dashboard, "onboardingTour");
        QVERIFY(runningTimers(dashboard).isEmpty());   // step 0 has none

        machine->preferences->setOnboardingTourStep(2);
        QCOMPARE(runningTimers(dashboard), QStringList{"presetTimer"});
        QTRY_COMPARE(tour->property("presetIndex").toInt(), 3);
        QTRY_COMPARE(tour->property("presetIndex").toInt(), 0);   // round again

        machine->preferences->setOnboardingTourStep(4);
        QCOMPARE(runningTimers(dashboard), QStringList{"sidebarTimer"});
        QTRY_COMPARE(text(dashboard, "pageTitle"), QStringLiteral("AI Hardware"));
        QTRY_COMPARE(text(dashboard, "pageTitle"), QStringLiteral("Performance Presets"));
        QTRY_COMPARE(text(dashboard, "pageTitle"), QStringLiteral("Settings"));
        QTRY_COMPARE(text(dashboard, "pageTitle"), QStringLiteral("AI Hardware"));

        // The window goes away: nothing runs, and the popover the tour opened is closed.
        machine->preferences->setOnboardingTourStep(5);
        QCOMPARE(count(NotificationCenter::OpenPopover), 1);
        ui->window->hide();
        QVERIFY(runningTimers(dashboard).isEmpty());
        QCOMPARE(count(NotificationCenter::ClosePopover), 1);
        ui->window->show();
        QCOMPARE(runningTimers(dashboard), QStringList{"popoverTimer"});
        QCOMPARE(count(NotificationCenter::OpenPopover), 2);
        // Escape ends the tour as Skip does.
        ui->window->requestActivate();
        QTRY_VERIFY(ui->window->activeFocusItem());
        QTest::keyClick(ui->window.get(), Qt::Key_Escape);
        QVERIFY(machine->preferences->hasCompletedOnboardingTour());
        QVERIFY(!machine->preferences->showOnboardingTour());
    }

    // Skip on the first step counts as finishing: the next dashboard does not start the
    // tour. A tour interrupted by quitting, though, reopens at the step it had reached.
    void skipFinishesAndAnInterruptedTourResumes()
    {
        QQuickItem *dashboard = loadDashboard();
        QVERIFY(dashboard);
        press(dashboard, "tourSkipButton");
        QVERIFY(machine->preferences->hasCompletedOnboardingTour());
        QVERIFY(!machine->preferences->showOnboardingTour());
        QCOMPARE(count(NotificationCenter::ClosePopover), 1);
        delete dashboard;
        dashboard = loadDashboard();
        QVERIFY(!machine->preferences->showOnboardingTour());
        QVERIFY(!child(dashboard, "onboardingTour"));
        delete dashboard;

        // Quit on step 3 of an unfinished tour: the next run comes back to step 3.
        machine->preferences->setHasCompletedOnboardingTour(false);
        machine->preferences->setShowOnboardingTour(true);
        machine->preferences->setOnboardingTourStep(3);
        dashboard = loadDashboard();
        QCOMPARE(machine->preferences->onboardingTourStep(), 3);
        QCOMPARE(text(dashboard, "tourTitle"), QStringLiteral("One-Click Cache Cleaners"));

        // Step 1 chooses the persona with the cards the settings page uses.
        machine->preferences->setOnboardingTourStep(1);
        const QList<QObject *> cards = QmlPageHarness::all(dashboard, "tourPersonaCard");
        QCOMPARE(cards.size(), 4);
        QMetaObject::invokeMethod(cards.at(3), "clicked");
        QCOMPARE(machine->preferences->workspacePersona(), cards.at(3)->property("persona").toString());
        QVERIFY(cards.at(3)->property("selected").toBool());
    }

    // The tour is worked from the keyboard alone: Tab walks its own controls (the persona
    // cards on step 1) and never the dimmed dashboard below; Enter and Space press them.
    void keyboardWorksTheTour()
    {
        QQuickItem *dashboard = loadDashboard();
        QVERIFY(dashboard);
        ui->window->requestActivate();
        QTRY_VERIFY(ui->window->activeFocusItem());
        QCOMPARE(ui->window->activeFocusItem()->objectName(), QStringLiteral("tourNextButton"));
        QTest::keyClick(ui->window.get(), Qt::Key_Return);
        QCOMPARE(machine->preferences->onboardingTourStep(), 1);

        QObject *tour = child(dashboard, "onboardingTour");
        QSet<QString> reached;
        for (int i = 0; i < 12; ++i) {
            QTest::keyClick(ui->window.get(), Qt::Key_Tab);
            QQuickItem *focused = ui->window->activeFocusItem();
            QVERIFY(focused);
            bool inTour = false;
            for (QQuickItem *up = focused; up; up = up->parentItem())
                inTour |= up == tour;
            QVERIFY2(inTour, qPrintable(focused->objectName() + QStringLiteral(" is outside the tour")));
            reached << (focused->objectName() == QLatin1String("tourPersonaCard") ? focused->property("persona").toString()
                                                                                   : focused->objectName());
        }
        QVERIFY2(reached.size() == 7, qPrintable(QStringList(reached.begin(), reached.end()).join(QLatin1Char(','))));

        // Space on a persona card chooses it.
        while (ui->window->activeFocusItem()->property("persona").toString() != QLatin1String("Gamer"))
            QTest::keyClick(ui->window.get(), Qt::Key_Tab);
        QTest::keyClick(ui->window.get(), Qt::Key_Space);
        QCOMPARE(machine->preferences->workspacePersona(), QStringLiteral("Gamer"));
    }

    // The cache step only counts sample lines up: the caches on disk are all still there
    // after it has run through every line and the user has moved on.
    void cacheStepDeletesNothing()
    {
        const QStringList files{".npm/_cacache/index", ".cache/pip/http/blob", ".cargo/registry/cache/crate",
                                ".cache/mesa_shader_cache/index", ".local/share/DaVinciResolve/CacheClip/clip"};
        for (const QString &file : files)
            machine->tree.write(file, "cached\n");
        QQuickItem *dashboard = loadDashboard();
        QVERIFY(dashboard);
        machine->preferences->setOnboardingTourStep(3);
        QCOMPARE(text(dashboard, "tourReclaimed"), QStringLiteral("Simulated clean: 0.0 GB reclaimed"));
        QTRY_COMPARE(text(dashboard, "tourReclaimed"), QStringLiteral("Simulated clean: 0.8 GB reclaimed"));
        QTRY_COMPARE(text(dashboard, "tourReclaimed"), QStringLiteral("Simulated clean: 4.9 GB reclaimed"));
        press(dashboard, "tourNextButton");
        QCOMPARE(machine->preferences->onboardingTourStep(), 4);
        for (const QString &file : files)
            QVERIFY2(QFile::exists(machine->tree.path(file)), qPrintable(file));
    }
};

QTEST_MAIN(TestOnboardingTour)
#include "tst_OnboardingTour.moc"
