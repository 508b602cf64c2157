#include "platform/FileTree.h"
#include "platform/TreeRemover.h"
#include "support/FixtureTree.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {
// What the file system has allocated to one item, read independently of the walker.
quint64 allocated(const QString &path)
{
    struct stat st {};
    if (::lstat(QFile::encodeName(path).constData(), &st) != 0)
        return 0;
    return quint64(st.st_blocks) * 512;
}

void link(const QString &from, const QString &to)
{
    QVERIFY2(::link(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0, qPrintable(to));
}

// `du -s -B1` of a folder, less the folder's own blocks (a size is of what lies beneath);
// -1 when du is not there to ask.
qint64 duBeneath(const QString &folder)
{
    const QString du = QStandardPaths::findExecutable(QStringLiteral("du"));
    if (du.isEmpty())
        return -1;
    QProcess p;
    p.start(du, {QStringLiteral("-s"), QStringLiteral("-B1"), folder});
    if (!p.waitForFinished(10000) || p.exitCode() != 0)
        return -1;
    bool ok = false;
    const qint64 total = QString::fromUtf8(p.readAllStandardOutput()).split(QLatin1Char('\t')).value(0).toLongLong(&ok);
    return ok ? total - qint64(allocated(folder)) : -1;
}
}

class TestFileTreeUsage : public QObject
{
    Q_OBJECT

    std::unique_ptr<FixtureTree> tree;

    quint64 sizeOf(const QString &relative) const { return FileTree::visibleSize(tree->root(relative)); }

private Q_SLOTS:
    void init() { tree = std::make_unique<FixtureTree>(); }

    // A sparse file holds only the blocks written: purging it gives back those, not the
    // length it claims; subfolders' own blocks go with them and count.
    void sizesAreAllocatedBlocks()
    {
        tree->mkdir(QStringLiteral("cache/sub"));
        {
            QFile sparse(tree->path(QStringLiteral("cache/sub/sparse")));
            QVERIFY(sparse.open(QIODevice::WriteOnly));
            QCOMPARE(sparse.write(QByteArray(4096, 's')), qint64(4096));
            QVERIFY(sparse.resize(100 * 1024 * 1024));
        }
        tree->write(QStringLiteral("cache/small"), QByteArray(10, 'x'));
        const quint64 size = sizeOf(QStringLiteral("cache"));
        QVERIFY2(size < 1024 * 1024, qPrintable(QString::number(size)));
        QVERIFY(size >= 4096);
        QCOMPARE(size, allocated(tree->path(QStringLiteral("cache/sub/sparse")))
                           + allocated(tree->path(QStringLiteral("cache/small")))
                           + allocated(tree->path(QStringLiteral("cache/sub"))));

        const qint64 du = duBeneath(tree->path(QStringLiteral("cache")));
        if (du >= 0)
            QCOMPARE(qint64(size), du);
    }

    // An inode counts once, and only when every name it has lies inside the folder: the
    // blocks of a file also named outside stay when the folder goes.
    void hardLinksCountOnlyWhenEveryNameIsInside()
    {
        tree->write(QStringLiteral("cache/a"), QByteArray(20000, 'a'));
        tree->mkdir(QStringLiteral("cache/sub"));
        link(tree->path(QStringLiteral("cache/a")), tree->path(QStringLiteral("cache/sub/a2")));
        link(tree->path(QStringLiteral("cache/a")), tree->path(QStringLiteral("cache/a3")));
        const quint64 inside = allocated(tree->path(QStringLiteral("cache/a"))) + allocated(tree->path(QStringLiteral("cache/sub")));
        QCOMPARE(sizeOf(QStringLiteral("cache")), inside);
        const qint64 du = duBeneath(tree->path(QStringLiteral("cache")));
        if (du >= 0)
            QCOMPARE(qint64(inside), du);

        tree->write(QStringLiteral("elsewhere/b"), QByteArray(30000, 'b'));
        link(tree->path(QStringLiteral("elsewhere/b")), tree->path(QStringLiteral("cache/b")));
        link(tree->path(QStringLiteral("elsewhere/b")), tree->path(QStringLiteral("cache/sub/b2")));
        QCOMPARE(sizeOf(QStringLiteral("cache")), inside);
        // Seen from a folder holding both names, it counts after all.
        QCOMPARE(sizeOf(QString()), inside + allocated(tree->path(QStringLiteral("elsewhere/b")))
                                        + allocated(tree->path(QStringLiteral("cache")))
                                        + allocated(tree->path(QStringLiteral("elsewhere"))));

        // A name inside the folder that is the file's only one, once the outside one is gone.
        tree->remove(QStringLiteral("elsewhere/b"));
        QCOMPARE(sizeOf(QStringLiteral("cache")), inside + allocated(tree->path(QStringLiteral("cache/b"))));
    }

    // Deleting an entry adds what it gave back: a sparse file's blocks, nothing for a name
    // whose file lives on under another.
    void removeEntryAddsTheBlocksGivenBack()
    {
        {
            QFile sparse(tree->path(QStringLiteral("sparse")));
            QVERIFY(sparse.open(QIODevice::WriteOnly));
            QCOMPARE(sparse.write(QByteArray(4096, 's')), qint64(4096));
            QVERIFY(sparse.resize(100 * 1024 * 1024));
        }
        tree->write(QStringLiteral("kept"), QByteArray(8192, 'k'));
        link(tree->path(QStringLiteral("kept")), tree->path(QStringLiteral("kept2")));
        const quint64 sparseBlocks = allocated(tree->path(QStringLiteral("sparse")));
        std::vector<FileTreeEntry> entries;
        FileTree::walk(tree->root(QString()), [&](const FileTreeEntry &e) { entries.push_back(e); });
        std::uint64_t freed = 0;
        const TreeRemover::Base root(tree->root(QString()));
        QVERIFY(root.fd() >= 0);
        for (const FileTreeEntry &e : entries)
            if (e.relativePath == "sparse" || e.relativePath == "kept2")
                QVERIFY(FileTree::removeEntry(root.fd(), e, freed));
        QCOMPARE(freed, sparseBlocks);
        QVERIFY(QFile::exists(tree->path(QStringLiteral("kept"))));
    }
};

QTEST_GUILESS_MAIN(TestFileTreeUsage)
#include "tst_FileTreeUsage.moc"
