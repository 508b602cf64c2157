#include "LaunchAtLoginManager.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include <cstdio>
#include <utility>

namespace {
const QString kEntryName = QStringLiteral("quillmoor.desktop");

struct Entry
{
    QString type;
    QString exec;
    QString hidden;
    QString gnomeEnabled;
};

// The keys of the [Desktop Entry] group that decide whether the session starts us.
Entry readEntry(const QByteArray &text)
{
    Entry entry;
    bool inMainGroup = false;
    for (const QByteArray &rawLine : text.split('\n')) {
        const QString line = QString::fromUtf8(rawLine).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            inMainGroup = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (!inMainGroup || equals <= 0)
            continue;
        const QString key = line.left(equals).trimmed();
        const QString value = line.mid(equals + 1).trimmed();
        if (key == QLatin1String("Type"))
            entry.type = value;
        else if (key == QLatin1String("Exec"))
            entry.exec = value;
        else if (key == QLatin1String("Hidden"))
            entry.hidden = value;
        else if (key == QLatin1String("X-GNOME-Autostart-enabled"))
            entry.gnomeEnabled = value;
    }
    return entry;
}

// The program an Exec value starts: its first argument with the value's escapes (\s, \n,
// \t, \r, \\) and then the argument's quoting undone.
QString execProgram(const QString &exec)
{
    QString unescaped;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar c = exec.at(i);
        const QChar next = i + 1 < exec.size() ? exec.at(i + 1) : QChar();
        if (c != QLatin1Char('\\') || next.isNull()) {
            unescaped += c;
            continue;
        }
        ++i;
        if (next == QLatin1Char('s'))
            unescaped += QLatin1Char(' ');
        else if (next == QLatin1Char('n'))
            unescaped += QLatin1Char('\n');
        else if (next == QLatin1Char('t'))
            unescaped += QLatin1Char('\t');
        else if (next == QLatin1Char('r'))
            unescaped += QLatin1Char('\r');
        else if (next == QLatin1Char('\\'))
            unescaped += QLatin1Char('\\');
        else
            unescaped += QStringView(exec).mid(i - 1, 2);
    }
    QString program;
    if (unescaped.startsWith(QLatin1Char('"'))) {
        for (qsizetype i = 1; i < unescaped.size() && unescaped.at(i) != QLatin1Char('"'); ++i) {
            if (unescaped.at(i) == QLatin1Char('\\') && i + 1 < unescaped.size())
                ++i;
            program += unescaped.at(i);
        }
    } else {
        program = unescaped.section(QLatin1Char(' '), 0, 0);
    }
    return program.replace(QLatin1String("%%"), QLatin1String("%"));
}
}

LaunchAtLoginManager::LaunchAtLoginManager(LaunchAtLoginSources sources, QObject *parent)
    : QObject(parent)
    , m_sources(std::move(sources))
{
    if (m_sources.configHome.isEmpty()) {
        const QString xdg = qEnvironmentVariable("XDG_CONFIG_HOME");
        m_sources.configHome = QDir::isAbsolutePath(xdg) ? xdg : QDir::home().filePath(QStringLiteral(".config"));
    }
    if (m_sources.executablePath.isEmpty())
        m_sources.executablePath = QCoreApplication::applicationFilePath();
    // The desktop already matches what it reports, so there is nothing to bring in line.
    m_isEnabled = status() == Status::Enabled;
}

QString LaunchAtLoginManager::entryPath() const
{
    return QDir(m_sources.configHome).filePath(QStringLiteral("autostart/") + kEntryName);
}

LaunchAtLoginManager::Status LaunchAtLoginManager::status() const
{
    QFile file(entryPath());
    if (!file.open(QIODevice::ReadOnly))
        return Status::NotRegistered;
    const Entry entry = readEntry(file.read(64 * 1024));
    const QString program = execProgram(entry.exec);
    const QString resolved = QDir::isAbsolutePath(program) ? program : QStandardPaths::findExecutable(program);
    const QFileInfo target(resolved);
    const QString ownName = QFileInfo(m_sources.executablePath).fileName();
    // An entry for a program that is gone, or someone else's under our name, starts nothing of ours.
    if (entry.type != QLatin1String("Application") || program.isEmpty() || resolved.isEmpty()
        || !target.isFile() || !target.isExecutable()
        || (target.fileName() != ownName && target.fileName() != QLatin1String("quillmoor")))
        return Status::NotOurs;
    if (entry.hidden.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0
        || entry.gnomeEnabled.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0)
        return Status::Disabled;
    return Status::Enabled;
}

void LaunchAtLoginManager::setIsEnabled(bool on)
{
    if (m_isEnabled != on) {
        m_isEnabled = on;
        Q_EMIT isEnabledChanged();
    }
    updateLaunchAtLogin(on);
}

void LaunchAtLoginManager::refreshStatus()
{
    setIsEnabled(status() == Status::Enabled);
}

void LaunchAtLoginManager::updateLaunchAtLogin(bool enabled)
{
    const bool registered = status() == Status::Enabled;
    QString failure;
    if (enabled) {
        if (registered)
            return;
        failure = registerEntry();
        log(failure.isEmpty() ? QStringLiteral("Successfully registered Launch at Login")
                              : QStringLiteral("Failed to register Launch at Login: ") + failure);
    } else {
        if (!registered)
            return;
        failure = unregisterEntry();
        log(failure.isEmpty() ? QStringLiteral("Successfully unregistered Launch at Login")
                              : QStringLiteral("Failed to unregister Launch at Login: ") + failure);
    }
    // A switch left on after a failed registration would promise a start that never comes.
    const bool actual = status() == Status::Enabled;
    if (!failure.isEmpty() && m_isEnabled != actual) {
        m_isEnabled = actual;
        Q_EMIT isEnabledChanged();
    }
}

QString LaunchAtLoginManager::registerEntry() const
{
    const QString folder = QFileInfo(entryPath()).path();
    if (!QDir().mkpath(folder))
        return QStringLiteral("cannot create the folder %1").arg(folder);
    QSaveFile file(entryPath());
    if (!file.open(QIODevice::WriteOnly))
        return file.errorString();
    file.write(entryFor(m_sources.executablePath));
    if (!file.commit())
        return file.errorString();
    return {};
}

QString LaunchAtLoginManager::unregisterEntry() const
{
    QFile file(entryPath());
    return file.remove() ? QString() : file.errorString();
}

QByteArray LaunchAtLoginManager::entryFor(const QString &executable)
{
    return QByteArrayLiteral("[Desktop Entry]\n"
                             "Type=Application\n"
                             "Name=Quillmoor\n"
                             "Comment=System monitor and optimiser for developers and local AI\n")
        + "Exec=" + quotedExecArgument(executable).toUtf8() + "\n"
        + QByteArrayLiteral("Icon=quillmoor\n"
                            "Terminal=false\n"
                            "X-GNOME-Autostart-enabled=true\n");
}

QString LaunchAtLoginManager::quotedExecArgument(const QString &path)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    bool needsQuotes = false;
    for (const QChar c : path)
        needsQuotes = needsQuotes || reserved.contains(c);
    QString argument;
    if (needsQuotes) {
        argument += QLatin1Char('"');
        for (const QChar c : path) {
            if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
                argument += QLatin1Char('\\');
            argument += c;
        }
        argument += QLatin1Char('"');
    } else {
        argument = path;
    }
    // Then the escapes every string value takes: a backslash doubles, a line break is \n.
    argument.replace(QLatin1String("\\"), QLatin1String("\\\\"));
    argument.replace(QLatin1Char('\n'), QLatin1String("\\n"));
    return argument.replace(QLatin1String("%"), QLatin1String("%%"));
}

void LaunchAtLoginManager::log(const QString &line)
{
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
    Q_EMIT logged(line);
}
