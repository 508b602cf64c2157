#include "app/AppDelegate.h"
#include "app/QuillmoorApp.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QTemporaryDir>
#include <QTest>

// The application object wires the shared services, so the user's real settings folder
// is swapped for a temporary one before anything touches it.
class TestQuillmoorApp : public QObject
{
    Q_OBJECT

    QTemporaryDir config;

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(config.isValid());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
        QCoreApplication::setOrganizationName(QStringLiteral("Quillmoor"));
        QCoreApplication::setApplicationName(QStringLiteral("Quillmoor"));
    }

    void launchBuildsPresetMenuAndDashboard()
    {
        QuillmoorApp app;
        app.launch();

        QMenu *menu = app.presetMenu();
        QVERIFY(menu);
        QCOMPARE(menu->title(), QStringLiteral("Performance Presets"));
        QStringList names;
        QStringList checked;
        for (QAction *action : menu->actions()) {
            names << action->text();
            if (action->isChecked())
                checked << action->text();
            QVERIFY(!action->icon().isNull());
        }
        QCOMPARE(names, (QStringList{"Inference Max", "Local Training", "Compile Max", "Creative Max",
                                     "Game Mode", "Eco Dev", "Vanilla Mac"}));
        QCOMPARE(checked, QStringList{"Vanilla Mac"});

        // The delegate ran its start-up: the dashboard is open, the popover built and closed.
        QVERIFY(app.appDelegate()->dashboardWindow());
        QVERIFY(app.appDelegate()->dashboardWindow()->isVisible());
        QVERIFY(app.appDelegate()->popover());
        QVERIFY(!app.appDelegate()->isPopoverShown());
    }
};

QTEST_MAIN(TestQuillmoorApp)
#include "tst_QuillmoorApp.moc"
