#include "app/QuillmoorApp.h"

#include <QApplication>
#include <QQuickWindow>
#include <QSystemTrayIcon>

int main(int argc, char **argv)
{
    // The windows are small and mostly still. Qt Quick's software renderer draws them
    // without loading a GPU driver, which costs tens of megabytes resident and a render
    // thread per window in a program that stays up all day. QT_QUICK_BACKEND still picks.
    if (qEnvironmentVariableIsEmpty("QT_QUICK_BACKEND"))
        QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Quillmoor"));
    QApplication::setApplicationName(QStringLiteral("Quillmoor"));
    QApplication::setApplicationVersion(QStringLiteral(QUILLMOOR_VERSION));
    QApplication::setDesktopFileName(QStringLiteral("quillmoor"));
    // A tray app keeps running with its windows closed, unless there is no tray to come
    // back from: then closing the dashboard ends it.
    QApplication::setQuitOnLastWindowClosed(!QSystemTrayIcon::isSystemTrayAvailable());

    QuillmoorApp quillmoor;
    quillmoor.launch();
    return app.exec();
}
