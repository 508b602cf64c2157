#include "app/QuillmoorApp.h"
#include "platform/QuitSignals.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QQuickWindow>
#include <QSystemTrayIcon>

#include <cstdio>

int main(int argc, char **argv)
{
    // Over SSH or in a console Qt would find no display and abort with a message about
    // reinstalling. A platform named by hand (offscreen, vnc...) is taken as meant.
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        std::fputs("quillmoor: needs a desktop session (no DISPLAY or WAYLAND_DISPLAY is set); "
                   "on a machine without one, quillmoor-exporter serves its figures for Prometheus.\n",
                   stderr);
        return 1;
    }
    // The windows are small and mostly still. Qt Quick's software renderer draws them
    // without loading a GPU driver, which costs tens of megabytes resident and a render
    // thread per window in a program that stays up all day. QT_QUICK_BACKEND still picks.
    if (qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND"))
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Quillmoor"));
    QApplication::setApplicationName(QStringLiteral("Quillmoor"));
    QApplication::setApplicationVersion(QStringLiteral(QUILLMOOR_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("io.github.quillmoor.Quillmoor"));
    // A tray app keeps running with its windows closed, unless there is no tray to come
    // back from: then closing the dashboard ends it.
    QApplication::setQuitOnLastWindowClosed(!QSystemTrayIcon::isSystemTrayAvailable());

    QCommandLineParser options;
    options.setApplicationDescription(QStringLiteral("A system monitor and optimiser for developers and local AI."));
    options.addHelpOption();
    options.addVersionOption();
    const QCommandLineOption page(QStringLiteral("page"), QStringLiteral("Open the dashboard on the page <title>, e.g. Sensors."),
                                  QStringLiteral("title"));
    options.addOption(page);
    options.process(app);

    // A logout or `kill` ends the app as its Quit does, settings written.
    QuitSignals quitSignals;
    QObject::connect(&quitSignals, &QuitSignals::quitRequested, &app, &QCoreApplication::quit);
    QuillmoorApp quillmoor;
    quillmoor.launch(options.value(page));
    return app.exec();
}
