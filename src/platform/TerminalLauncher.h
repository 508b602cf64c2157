#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// Opens the user's terminal emulator running a shell command, detached: the window lives
// on after Quillmoor exits. The first found of $TERMINAL, x-terminal-emulator,
// gnome-terminal, konsole, xfce4-terminal and xterm is used.
class TerminalLauncher
{
public:
    // `searchPath`: where emulators are looked up (unset: PATH); `preferred`: the
    // $TERMINAL choice (unset: the environment's).
    explicit TerminalLauncher(std::optional<QStringList> searchPath = {}, std::optional<QString> preferred = {});

    // The emulator and arguments that would run `command`; empty program when none is found.
    struct Launch { QString program; QStringList arguments; };
    Launch launchFor(const QString &command) const;

    // Runs `command` through sh -c in a new window, then leaves an interactive shell so
    // the window stays. False when no emulator was found or it could not be started.
    bool open(const QString &command) const;

private:
    QString find(const QString &name) const;

    std::optional<QStringList> m_searchPath;
    QString m_preferred;
};
