#pragma once

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <string>

// A throw-away directory tree standing in for /proc and /sys.
class FixtureTree
{
public:
    FixtureTree() { QVERIFY(m_dir.isValid()); }

    QString path(const QString &relative = {}) const { return relative.isEmpty() ? m_dir.path() : m_dir.filePath(relative); }
    std::string root(const QString &relative) const { return QFile::encodeName(path(relative)).toStdString(); }

    // Writes (or rewrites in place) a file, creating its folders.
    void write(const QString &relative, const QByteArray &contents) const
    {
        const QString file = path(relative);
        QDir().mkpath(QFileInfo(file).path());
        QFile f(file);
        QVERIFY2(f.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(file));
        f.write(contents);
    }

    void mkdir(const QString &relative) const { QVERIFY(QDir().mkpath(path(relative))); }
    void remove(const QString &relative) const { QFile::remove(path(relative)); }

private:
    QTemporaryDir m_dir;
};
