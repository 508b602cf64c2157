#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

// Maps running programs to the icons of the applications installed for them, from the
// freedesktop .desktop files under <dataDir>/applications. Linux executables carry no
// icon of their own; the launcher entry that starts a program is where its icon is named.
class DesktopEntryIndex
{
public:
    DesktopEntryIndex() = default;

    // Reads every entry below the given data folders; earlier folders win, as in
    // XDG_DATA_HOME before XDG_DATA_DIRS.
    static DesktopEntryIndex build(const QStringList &dataDirs);

    // The data folders the desktop uses: $XDG_DATA_HOME (or ~/.local/share), then
    // $XDG_DATA_DIRS (or /usr/local/share:/usr/share).
    static QStringList systemDataDirs();

    // The icon (a theme name or an absolute file path) for a process, matched by the
    // executable's name against each entry's Exec/TryExec program, StartupWMClass, Icon
    // name and desktop-file name, in that order. Empty when nothing matches.
    QString iconFor(const QString &fullPath, const QString &name) const;

    // Parses one entry's text into the index (exposed for tests).
    void addEntry(const QString &fileName, const QByteArray &text);

    bool isEmpty() const { return m_byExec.isEmpty() && m_byWmClass.isEmpty() && m_byIcon.isEmpty() && m_byFile.isEmpty(); }

private:
    QHash<QString, QString> m_byExec;     // program basename -> icon
    QHash<QString, QString> m_byWmClass;  // lower-case StartupWMClass -> icon
    QHash<QString, QString> m_byIcon;     // lower-case icon name -> icon
    QHash<QString, QString> m_byFile;     // lower-case desktop id without ".desktop" -> icon
};
