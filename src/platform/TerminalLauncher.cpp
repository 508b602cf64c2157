#include "TerminalLauncher.h"

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

TerminalLauncher::TerminalLauncher(std::optional<QStringList> searchPath, std::optional<QString> preferred)
    : m_searchPath(std::move(searchPath))
    , m_preferred(preferred ? *preferred : qEnvironmentVariable("TERMINAL"))
{
}

QString TerminalLauncher::find(const QString &name) const
{
    if (name.isEmpty())
        return {};
    if (name.contains(QLatin1Char('/'))) {
        const QFileInfo file(name);
        return file.isFile() && file.isExecutable() ? file.absoluteFilePath() : QString();
    }
    if (m_searchPath && m_searchPath->isEmpty())
        return {};
    return m_searchPath ? QStandardPaths::findExecutable(name, *m_searchPath) : QStandardPaths::findExecutable(name);
}

TerminalLauncher::Launch TerminalLauncher::launchFor(const QString &command) const
{
    // The window would close with the command; an interactive shell keeps it open.
    const QStringList shell{QStringLiteral("sh"), QStringLiteral("-c"),
                            command + QStringLiteral("; exec \"${SHELL:-/bin/sh}\"")};
    struct Candidate { QString name; QString separator; };
    const QList<Candidate> candidates{
        {m_preferred, QStringLiteral("-e")},
        {QStringLiteral("x-terminal-emulator"), QStringLiteral("-e")},
        {QStringLiteral("gnome-terminal"), QStringLiteral("--")},
        {QStringLiteral("konsole"), QStringLiteral("-e")},
        {QStringLiteral("xfce4-terminal"), QStringLiteral("-x")},
        {QStringLiteral("xterm"), QStringLiteral("-e")},
    };
    for (const Candidate &c : candidates) {
        const QString program = find(c.name);
        if (!program.isEmpty())
            return {program, QStringList{c.separator} + shell};
    }
    return {};
}

bool TerminalLauncher::open(const QString &command) const
{
    const Launch launch = launchFor(command);
    return !launch.program.isEmpty() && QProcess::startDetached(launch.program, launch.arguments);
}
