#include "DesktopEntryIndex.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

namespace {
// The program an Exec line starts: its first word, after any "env VAR=value" prefix.
QString programOf(const QString &exec)
{
    QStringList words;
    QString word;
    bool quoted = false;
    for (const QChar c : exec) {
        if (c == u'"') {
            quoted = !quoted;
        } else if (c.isSpace() && !quoted) {
            if (!word.isEmpty())
                words.append(std::exchange(word, QString()));
        } else {
            word.append(c);
        }
    }
    if (!word.isEmpty())
        words.append(word);
    qsizetype i = 0;
    if (i < words.size() && QFileInfo(words[i]).fileName() == u"env") {
        ++i;
        while (i < words.size() && (words[i].contains(u'=') || words[i].startsWith(u'-')))
            ++i;
    }
    return i < words.size() ? QFileInfo(words[i]).fileName() : QString();
}
}

QStringList DesktopEntryIndex::systemDataDirs()
{
    QStringList dirs;
    const QString home = qEnvironmentVariable("XDG_DATA_HOME");
    dirs.append(home.isEmpty() ? QDir::homePath() + QStringLiteral("/.local/share") : home);
    QString system = qEnvironmentVariable("XDG_DATA_DIRS");
    if (system.isEmpty())
        system = QStringLiteral("/usr/local/share:/usr/share");
    for (const QString &d : system.split(u':', Qt::SkipEmptyParts))
        if (!dirs.contains(d))
            dirs.append(d);
    return dirs;
}

DesktopEntryIndex DesktopEntryIndex::build(const QStringList &dataDirs)
{
    DesktopEntryIndex index;
    for (const QString &dir : dataDirs) {
        QDirIterator it(dir + QStringLiteral("/applications"), {QStringLiteral("*.desktop")}, QDir::Files,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            QFile file(it.next());
            if (file.size() > 256 * 1024 || !file.open(QIODevice::ReadOnly))
                continue;
            index.addEntry(it.fileName(), file.readAll());
        }
    }
    return index;
}

void DesktopEntryIndex::addEntry(const QString &fileName, const QByteArray &text)
{
    QString icon, exec, tryExec, wmClass;
    bool inMainGroup = false;
    bool hidden = false;
    for (const QByteArray &rawLine : text.split('\n')) {
        const QByteArray line = rawLine.trimmed();
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        if (line.startsWith('[')) {
            inMainGroup = line == "[Desktop Entry]";
            continue;
        }
        if (!inMainGroup)
            continue;
        const qsizetype eq = line.indexOf('=');
        if (eq <= 0)
            continue;
        const QByteArray key = line.left(eq).trimmed();
        const QString value = QString::fromUtf8(line.mid(eq + 1).trimmed());
        if (key == "Icon")
            icon = value;
        else if (key == "Exec")
            exec = value;
        else if (key == "TryExec")
            tryExec = value;
        else if (key == "StartupWMClass")
            wmClass = value;
        else if (key == "Hidden")
            hidden = value == u"true";
    }
    if (icon.isEmpty() || hidden)
        return;

    // First entry found wins, so a user's own entry shadows the system one.
    auto add = [&](QHash<QString, QString> &map, const QString &key) {
        if (!key.isEmpty() && !map.contains(key))
            map.insert(key, icon);
    };
    add(m_byExec, programOf(exec));
    add(m_byExec, programOf(tryExec));
    add(m_byWmClass, wmClass.toLower());
    if (!icon.contains(u'/'))
        add(m_byIcon, icon.toLower());
    QString id = fileName;
    id.chop(8);   // ".desktop"
    add(m_byFile, id.toLower());
    // Reverse-domain ids (org.gnome.Nautilus) also match by their last part.
    if (const qsizetype dot = id.lastIndexOf(u'.'); dot >= 0)
        add(m_byFile, id.mid(dot + 1).toLower());
}

QString DesktopEntryIndex::iconFor(const QString &fullPath, const QString &name) const
{
    const QString program = QFileInfo(fullPath).fileName().isEmpty() ? name : QFileInfo(fullPath).fileName();
    if (const auto it = m_byExec.constFind(program); it != m_byExec.cend())
        return *it;
    const QString lower = program.toLower();
    for (const QHash<QString, QString> *map : {&m_byWmClass, &m_byIcon, &m_byFile})
        if (const auto it = map->constFind(lower); it != map->cend())
            return *it;
    return {};
}
