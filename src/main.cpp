#include "app/QuillmoorApp.h"

#include <QApplication>
#include <QSystemTrayIcon>

int main(int argc, char **argv)
{
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
