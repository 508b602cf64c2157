#include "ApplicationLauncher.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>

bool ApplicationLauncher::open(const QString &path)
{
    const QFileInfo program(path);
    if (!QDir::isAbsolutePath(path) || !program.isFile() || !program.isExecutable())
        return false;
    QProcess process;
    process.setProgram(path);
    process.setStandardInputFile(QProcess::nullDevice());
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    return process.startDetached();
}
