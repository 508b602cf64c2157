#include "platform/DeletionGuard.h"
#include "support/FixtureTree.h"

#include "platform/LocalPath.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QTest>

#include <atomic>
#include <functional>
#include <thread>

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using Kind = DeletionGuard::Verdict::Kind;
using Links = DeletionGuard::Links;
using Root = DeletionGuard::Root;

class TestDeletionGuard : public QObject
{
    Q_OBJECT

    std::unique_ptr<FixtureTree> tree;
    QString home;

    QString at(const QString &relative) const { return tree->path(relative); }
    void link(const QString &target, const QString &relative) const
    {
        QVERIFY2(QFile::link(target, at(relative)), qPrintable(relative));
    }

    static QByteArray checksum(const QString &folder)
    {
        QCryptographicHash hash(QCryptographicHash::Sha256);
        QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        QStringList found;
        while (it.hasNext())
            found.append(it.next());
        found.sort();
        for (const QString &path : std::as_const(found)) {
            hash.addData(path.toUtf8());
            QFile file(path);
            if (file.open(QIODevice::ReadOnly))
                hash.addData(file.readAll());
        }
        return hash.result();
    }

    // Runs `work` where permissions hold: as this user, or, for root, as nobody in a child
    // process, `owned` handed to nobody first and everything else left to root.
    static QStringList unprivileged(const std::function<QStringList()> &work, const QStringList &owned)
    {
        if (::geteuid() != 0)
            return work();
        for (const QString &path : owned)
            if (::lchown(LocalPath::local(path).c_str(), 65534, 65534) != 0)
                return {QStringLiteral("chown failed")};
        int pipeFds[2];
        if (::pipe(pipeFds) != 0)
            return {QStringLiteral("pipe failed")};
        const pid_t child = ::fork();
        if (child == 0) {
            ::close(pipeFds[0]);
            if (::setgid(65534) != 0 || ::setuid(65534) != 0)
                ::_exit(2);
            const QByteArray out = LocalPath::encode(work().join(QLatin1Char('\n')));
            const ssize_t written = ::write(pipeFds[1], out.constData(), static_cast<size_t>(out.size()));
            ::_exit(written == out.size() ? 0 : 3);
        }
        ::close(pipeFds[1]);
        QByteArray out;
        char buffer[4096];
        ssize_t n;
        while ((n = ::read(pipeFds[0], buffer, sizeof buffer)) > 0)
            out.append(buffer, n);
        ::close(pipeFds[0]);
        int status = 0;
        ::waitpid(child, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
            return {QStringLiteral("child failed")};
        return out.isEmpty() ? QStringList{} : LocalPath::decode(out).split(QLatin1Char('\n'));
    }

private Q_SLOTS:
    void init()
    {
        tree = std::make_unique<FixtureTree>();
        home = at(QStringLiteral("home"));
        tree->write(QStringLiteral("home/Documents/thesis.tex"), "precious");
        tree->write(QStringLiteral("home/cache/blobs/a"), "a");
        tree->write(QStringLiteral("home/cache/blobs/sub/b"), "b");
        tree->write(QStringLiteral("elsewhere/models/m"), "m");
    }

    void itemsInsideARootAfterResolving()
    {
        const DeletionGuard guard(home);
        const QList<Root> roots{{at(QStringLiteral("home/cache/blobs"))}};
        QCOMPARE(guard.item(at(QStringLiteral("home/cache/blobs/a")), roots).location, at(QStringLiteral("home/cache/blobs/a")));
        const auto dotted = guard.item(at(QStringLiteral("home/cache/blobs/sub/../a")), roots);
        QVERIFY(dotted.allowed());
        QCOMPARE(dotted.location, at(QStringLiteral("home/cache/blobs/a")));
        QVERIFY(guard.item(at(QStringLiteral("home/cache/blobs/sub")), roots).allowed());

        // ".." climbing out, the root itself, and names that are no item of their own.
        QCOMPARE(guard.item(at(QStringLiteral("home/cache/blobs/../../Documents/thesis.tex")), roots).kind, Kind::Outside);
        QCOMPARE(guard.item(at(QStringLiteral("home/cache/blobs")), roots).kind, Kind::Outside);
        for (const char *name : {"home/cache/blobs/", "home/cache/blobs/.", "home/cache/blobs/sub/..", "home/cache/blobs/sub/"}) {
            const auto verdict = guard.item(at(QLatin1String(name)), roots);
            QCOMPARE(verdict.kind, Kind::Refused);
            QVERIFY(!verdict.reason.isEmpty());
        }
        QCOMPARE(guard.item(at(QStringLiteral("home/cache/..")), roots).kind, Kind::Outside);
        QCOMPARE(guard.item(QStringLiteral("cache/blobs/a"), roots).kind, Kind::Refused);
        QCOMPARE(guard.item(QString(), roots).kind, Kind::Refused);
        // A place inside where nothing is, and one whose folder does not exist.
        QCOMPARE(guard.item(at(QStringLiteral("home/cache/blobs/gone")), roots).kind, Kind::Nothing);
        QCOMPARE(guard.item(at(QStringLiteral("home/cache/blobs/no/gone")), roots).kind, Kind::Outside);
        // A root that is not there holds nothing.
        QCOMPARE(guard.item(at(QStringLiteral("home/cache/blobs/a")), {{at(QStringLiteral("missing"))}}).kind, Kind::Outside);
    }

    void linksOnTheWayAndAtTheEnd()
    {
        const DeletionGuard guard(home);
        const QList<Root> roots{{at(QStringLiteral("home/cache/blobs"))}, {at(QStringLiteral("elsewhere/models"))}};
        link(at(QStringLiteral("home/Documents")), QStringLiteral("home/cache/blobs/escape"));
        link(at(QStringLiteral("home/Documents/thesis.tex")), QStringLiteral("home/cache/blobs/link-out"));
        link(at(QStringLiteral("elsewhere/models/m")), QStringLiteral("home/cache/blobs/link-in"));
        link(at(QStringLiteral("nowhere")), QStringLiteral("home/cache/blobs/dangling"));

        // Through a folder link that leads out: judged where it leads, so outside.
        QCOMPARE(guard.item(at(QStringLiteral("home/cache/blobs/escape/thesis.tex")), roots).kind, Kind::Outside);
        // The link itself: removed as a link, wherever it points.
        for (const char *name : {"escape", "link-out", "link-in", "dangling"}) {
            const QString path = at(QStringLiteral("home/cache/blobs/") + QLatin1String(name));
            const auto verdict = guard.item(path, roots);
            QVERIFY2(verdict.allowed(), name);
            QCOMPARE(verdict.location, path);
        }
        // Where a list shows what a link leads to, a link out is refused; one into another
        // root, and a dangling one, are not.
        QCOMPARE(guard.item(at(QStringLiteral("home/cache/blobs/link-out")), roots, Links::MustLeadInside).kind, Kind::Refused);
        QCOMPARE(guard.item(at(QStringLiteral("home/cache/blobs/escape")), roots, Links::MustLeadInside).kind, Kind::Refused);
        QVERIFY(guard.item(at(QStringLiteral("home/cache/blobs/link-in")), roots, Links::MustLeadInside).allowed());
        QVERIFY(guard.item(at(QStringLiteral("home/cache/blobs/dangling")), roots, Links::MustLeadInside).allowed());
    }

    void aRootThatIsALinkConfinesToItsTarget()
    {
        const DeletionGuard guard(home);
        link(at(QStringLiteral("elsewhere/models")), QStringLiteral("home/models-link"));
        const QList<Root> roots{{at(QStringLiteral("home/models-link"))}};
        const auto verdict = guard.item(at(QStringLiteral("home/models-link/m")), roots);
        QVERIFY(verdict.allowed());
        QCOMPARE(verdict.location, at(QStringLiteral("elsewhere/models/m")));
        QVERIFY(guard.item(at(QStringLiteral("elsewhere/models/m")), roots).allowed());
        // The link's own folder is not the confinement.
        QCOMPARE(guard.item(at(QStringLiteral("home/Documents/thesis.tex")), roots).kind, Kind::Outside);
        QCOMPARE(guard.item(at(QStringLiteral("home/models-link/../Documents/thesis.tex")), roots).kind, Kind::Outside);
    }

    // However wide a root is, the home folder and the folders above it stay.
    void neverTheHomeOrAbove()
    {
        link(home, QStringLiteral("home-link"));
        for (const QString &given : {home, at(QStringLiteral("home-link")), home + QStringLiteral("/Documents/..")}) {
            const DeletionGuard guard(given);
            QCOMPARE(guard.home(), home);
            const QList<Root> roots{{QStringLiteral("/")}, {tree->path()}};
            QCOMPARE(guard.item(home, roots).kind, Kind::Refused);
            QCOMPARE(guard.item(tree->path(), roots).kind, Kind::Refused);
            QVERIFY(guard.item(at(QStringLiteral("home/Documents")), roots).allowed());
            QCOMPARE(guard.folder(home).kind, Kind::Refused);
            QCOMPARE(guard.folder(tree->path()).kind, Kind::Refused);
            QCOMPARE(guard.folder(QStringLiteral("/")).kind, Kind::Refused);
            QCOMPARE(guard.contents(home).kind, Kind::Refused);
            QCOMPARE(guard.contents(home + QStringLiteral("/Documents/..")).kind, Kind::Refused);
            QCOMPARE(guard.contents(at(QStringLiteral("home-link"))).kind, Kind::Refused);
            QCOMPARE(guard.contents(QStringLiteral("/")).kind, Kind::Refused);
        }
    }

    void versionFoldersAtAFixedDepth()
    {
        tree->write(QStringLiteral("home/.asdf/installs/golang/1.20.5/go"), "g");
        tree->write(QStringLiteral("home/.nvm/versions/node/v20/bin/node"), "n");
        const DeletionGuard guard(home);
        const QList<Root> roots{{at(QStringLiteral("home/.nvm/versions/node")), 1},
                                {at(QStringLiteral("home/.asdf/installs")), 2}};
        QVERIFY(guard.item(at(QStringLiteral("home/.nvm/versions/node/v20")), roots).allowed());
        QVERIFY(guard.item(at(QStringLiteral("home/.asdf/installs/golang/1.20.5")), roots).allowed());
        QCOMPARE(guard.item(at(QStringLiteral("home/.asdf/installs/golang/9.9")), roots).kind, Kind::Nothing);
        QCOMPARE(guard.item(at(QStringLiteral("home/.nvm/versions/node/v20/bin")), roots).kind, Kind::Refused);
        QCOMPARE(guard.item(at(QStringLiteral("home/.asdf/installs/golang")), roots).kind, Kind::Refused);
        QCOMPARE(guard.item(at(QStringLiteral("home/.asdf/installs/golang/1.20.5/go")), roots).kind, Kind::Refused);
        // The depth is counted after resolving.
        QVERIFY(guard.item(at(QStringLiteral("home/.asdf/installs/golang/../golang/1.20.5")), roots).allowed());
        QCOMPARE(guard.item(at(QStringLiteral("home/.asdf/installs/golang/1.20.5/..")), roots).kind, Kind::Refused);
    }

    void configuredFolders()
    {
        const DeletionGuard guard(home);
        // Whole: the folder as named, a link there as the link.
        link(at(QStringLiteral("elsewhere/models")), QStringLiteral("home/cache/linked"));
        QCOMPARE(guard.folder(at(QStringLiteral("home/cache/blobs"))).location, at(QStringLiteral("home/cache/blobs")));
        QCOMPARE(guard.folder(at(QStringLiteral("home/cache/linked"))).location, at(QStringLiteral("home/cache/linked")));
        QCOMPARE(guard.folder(at(QStringLiteral("home/cache/blobs/sub/../../blobs"))).location,
                 at(QStringLiteral("home/cache/blobs")));
        QCOMPARE(guard.folder(at(QStringLiteral("home/cache/gone"))).kind, Kind::Nothing);
        QCOMPARE(guard.folder(at(QStringLiteral("home/gone/gone"))).kind, Kind::Nothing);
        QCOMPARE(guard.folder(at(QStringLiteral("home/cache/blobs/"))).kind, Kind::Refused);
        QCOMPARE(guard.folder(at(QStringLiteral("home/cache/blobs/sub/.."))).kind, Kind::Refused);
        QCOMPARE(guard.folder(QStringLiteral("cache")).kind, Kind::Refused);
        // Contents: never the folder a link leads to, which may hold more than the cache.
        const auto linked = guard.contents(at(QStringLiteral("home/cache/linked")));
        QCOMPARE(linked.kind, Kind::Refused);
        QVERIFY2(linked.reason.contains(at(QStringLiteral("elsewhere/models"))), qPrintable(linked.reason));
        QCOMPARE(guard.contents(at(QStringLiteral("home/cache/blobs/a"))).kind, Kind::Nothing);
        QCOMPARE(guard.contents(at(QStringLiteral("home/cache/gone"))).kind, Kind::Nothing);
    }

    // Text stays text; bytes that are not UTF-8 come back as the same bytes.
    void namesTravelAsBytes()
    {
        const QByteArray text = QStringLiteral("models/模型-😀 ü.gguf").toUtf8();
        QCOMPARE(LocalPath::decode(text), QString::fromUtf8(text));
        QCOMPARE(LocalPath::encode(LocalPath::decode(text)), text);
        QByteArray every;
        for (int b = 1; b < 256; ++b)
            every.append(char(b));
        // Also truncated, overlong and surrogate sequences, and a lead byte at the very end.
        for (const QByteArray &bytes : {every, QByteArray("\xe6\xa8"), QByteArray("\xc0\xaf"), QByteArray("\xed\xa0\x80"),
                                        QByteArray("\xf4\x90\x80\x80"), QByteArray("ok\xf0")}) {
            const QString shown = LocalPath::decode(bytes);
            QCOMPARE(LocalPath::encode(shown), bytes);
            QVERIFY(!shown.contains(QChar::ReplacementCharacter));
        }
        QCOMPARE(LocalPath::decode(QByteArray("a\xff" "b")).size(), 3);
    }

    // The judgement and the deletion cannot be pulled apart: a folder on the way swapped for
    // a link to a look-alike tree outside, again and again while items are deleted, never
    // costs a byte outside.
    void aFolderSwappedForALinkNeverRedirectsTheDeletion()
    {
        const QString outside = at(QStringLiteral("outside"));
        for (const char *file : {"blobs/sha256-1", "v20/bin/node", "v20/lib/a", "v20/lib/b"})
            tree->write(QStringLiteral("outside/") + QLatin1String(file), QByteArray("precious ") + file);
        const QByteArray before = checksum(outside);
        const QString hub = at(QStringLiteral("home/hub"));
        tree->mkdir(QStringLiteral("home/hub"));
        link(outside, QStringLiteral("home/hub/decoy"));
        const DeletionGuard guard(home);
        const QList<Root> roots{{hub}};

        std::atomic<bool> stop = false;
        const std::string swapped = LocalPath::local(hub + QStringLiteral("/models--x"));
        const std::string decoy = LocalPath::local(hub + QStringLiteral("/decoy"));
        int deleted = 0;
        for (int round = 0; round < 200; ++round) {
            QFile::remove(hub + QStringLiteral("/models--x"));   // a link left there by the last round
            for (const char *file : {"blobs/sha256-1", "v20/bin/node", "v20/lib/a", "v20/lib/b"})
                tree->write(QStringLiteral("home/hub/models--x/") + QLatin1String(file), "cache");
            stop = false;
            std::thread swapper([&] {
                while (!stop)
                    ::renameat2(AT_FDCWD, swapped.c_str(), AT_FDCWD, decoy.c_str(), RENAME_EXCHANGE);
            });
            // A model file, and a runtime folder with everything in it.
            for (const char *item : {"models--x/blobs/sha256-1", "models--x/v20"}) {
                const auto verdict = guard.item(hub + QLatin1Char('/') + QLatin1String(item), roots);
                if (verdict.allowed() && guard.remove(verdict).complete)
                    ++deleted;
            }
            stop = true;
            swapper.join();
            // Put the real folder back where it belongs for the next round.
            if (QFileInfo(hub + QStringLiteral("/models--x")).isSymLink())
                QVERIFY(::renameat2(AT_FDCWD, swapped.c_str(), AT_FDCWD, decoy.c_str(), RENAME_EXCHANGE) == 0);
            QCOMPARE(checksum(outside), before);
            QVERIFY(QFileInfo(hub + QStringLiteral("/decoy")).isSymLink());
            QDir(hub + QStringLiteral("/models--x")).removeRecursively();
        }
        // Deletions did happen in between: the race was run, not avoided.
        QVERIFY2(deleted > 0, qPrintable(QString::number(deleted)));
    }

    // A deletion starts from a folder that is not a link; links on the way to it count only
    // when this user or root made them.
    void linkedBasesAreRefused()
    {
        const DeletionGuard guard(home);
        link(at(QStringLiteral("elsewhere/models")), QStringLiteral("home/cache/models-link"));
        const auto item = guard.item(at(QStringLiteral("home/cache/models-link/m")), {{at(QStringLiteral("home/cache/models-link"))}});
        QVERIFY(item.allowed());
        const auto refused = guard.remove(item);
        QVERIFY(!refused.complete);
        QCOMPARE(refused.failures.size(), 1);
        QVERIFY2(refused.failures.first().contains(QStringLiteral("is a link to")), qPrintable(refused.failures.first()));
        QVERIFY(QFile::exists(at(QStringLiteral("elsewhere/models/m"))));

        // A link higher up that this user owns is followed: a cache moved to another disk.
        link(at(QStringLiteral("elsewhere")), QStringLiteral("home/moved"));
        const auto moved = guard.item(at(QStringLiteral("home/moved/models/m")), {{at(QStringLiteral("home/moved/models"))}});
        QVERIFY(moved.allowed());
        QVERIFY(guard.remove(moved).complete);
        QVERIFY(!QFile::exists(at(QStringLiteral("elsewhere/models/m"))));

        if (::geteuid() != 0)
            QSKIP("making a link another account owns needs root");
        // One another account owns is how a neighbour would aim a deletion at this user's files.
        tree->write(QStringLiteral("home/Documents/models/n"), "precious");
        link(at(QStringLiteral("home/Documents")), QStringLiteral("elsewhere/theirs"));
        QVERIFY(::lchown(LocalPath::local(at(QStringLiteral("elsewhere/theirs"))).c_str(), 65534, 65534) == 0);
        const auto theirs = guard.item(at(QStringLiteral("elsewhere/theirs/models/n")), {{at(QStringLiteral("elsewhere/theirs/models"))}});
        QVERIFY(theirs.allowed());
        const auto removal = guard.remove(theirs);
        QVERIFY(!removal.complete);
        QVERIFY2(removal.failures.value(0).contains(QStringLiteral("another account owns")), qPrintable(removal.failures.value(0)));
        QVERIFY(QFile::exists(at(QStringLiteral("home/Documents/models/n"))));
    }

    // Names are bytes: one that is not UTF-8 is judged and deleted like any other, and a tree
    // of any depth goes whole.
    void anyNameAndAnyDepth()
    {
        const QByteArray blobs = LocalPath::encode(at(QStringLiteral("home/cache/blobs")));
        const QByteArray odd = blobs + "/model-\xff\xfe.gguf";
        const int fd = ::open(odd.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        QVERIFY(fd >= 0);
        QCOMPARE(::write(fd, "gguf", 4), ssize_t(4));
        ::close(fd);
        const QString shown = LocalPath::decode(odd);
        QCOMPARE(LocalPath::encode(shown), odd);
        const DeletionGuard guard(home);
        const auto verdict = guard.item(shown, {{at(QStringLiteral("home/cache/blobs"))}});
        QVERIFY(verdict.allowed());
        QVERIFY(guard.remove(verdict).complete);
        struct stat st {};
        QCOMPARE(::lstat(odd.constData(), &st), -1);

        // 200 folders deep, far past the descriptors held at once.
        QString deep = QStringLiteral("home/cache/blobs/deep");
        for (int i = 0; i < 200; ++i)
            deep += QStringLiteral("/d%1").arg(i);
        tree->write(deep + QStringLiteral("/bottom"), "b");
        tree->write(QStringLiteral("home/cache/blobs/deep/d0/d1/side"), "s");
        const auto whole = guard.item(at(QStringLiteral("home/cache/blobs/deep")), {{at(QStringLiteral("home/cache/blobs"))}});
        const auto removal = guard.remove(whole);
        QVERIFY2(removal.complete, qPrintable(removal.failures.join(u'\n')));
        QVERIFY(!QFileInfo::exists(at(QStringLiteral("home/cache/blobs/deep"))));
        QVERIFY(QFileInfo::exists(at(QStringLiteral("home/cache/blobs/a"))));

        // Contents only: the folder stays, links inside go as links.
        link(at(QStringLiteral("home/Documents")), QStringLiteral("home/cache/blobs/docs"));
        const auto emptied = guard.remove(guard.contents(at(QStringLiteral("home/cache/blobs"))));
        QVERIFY(emptied.complete);
        QVERIFY(emptied.freed > 0);
        QCOMPARE(QDir(at(QStringLiteral("home/cache/blobs"))).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
                 QStringList{});
        QVERIFY(QFile::exists(at(QStringLiteral("home/Documents/thesis.tex"))));
    }

    // What could not be deleted is said, one line per item, and the rest still goes.
    void failuresAreSaid()
    {
        tree->write(QStringLiteral("home/cache/blobs/locked/kept"), "k");
        tree->write(QStringLiteral("home/cache/blobs/locked/also"), "k");
        const auto readable = QFile::ReadOwner | QFile::ExeOwner | QFile::ReadGroup | QFile::ExeGroup | QFile::ReadOther
            | QFile::ExeOther;
        QVERIFY(QFile::setPermissions(tree->path(), readable | QFile::WriteOwner));
        const QString locked = at(QStringLiteral("home/cache/blobs/locked"));
        QVERIFY(QFile::setPermissions(locked, readable));
        const QStringList lines = unprivileged([this] {
            const DeletionGuard guard(home);
            return guard.remove(guard.contents(at(QStringLiteral("home/cache/blobs")))).failures;
        }, {at(QStringLiteral("home")), at(QStringLiteral("home/cache")), at(QStringLiteral("home/cache/blobs")),
            at(QStringLiteral("home/cache/blobs/a")), at(QStringLiteral("home/cache/blobs/sub")),
            at(QStringLiteral("home/cache/blobs/sub/b"))});
        QCOMPARE(lines.size(), 2);
        for (const QString &line : lines) {
            QVERIFY2(line.startsWith(QStringLiteral("Could not delete ") + at(QStringLiteral("home/cache/blobs/locked/"))), qPrintable(line));
            QVERIFY2(line.endsWith(QStringLiteral(": permission denied")), qPrintable(line));
        }
        QVERIFY(QFile::setPermissions(locked, readable | QFile::WriteOwner));
        QVERIFY(QFile::exists(at(QStringLiteral("home/cache/blobs/locked/kept"))));
        QVERIFY(!QFile::exists(at(QStringLiteral("home/cache/blobs/a"))));
        QVERIFY(!QFileInfo::exists(at(QStringLiteral("home/cache/blobs/sub"))));
    }

    void strictlyInside()
    {
        QVERIFY(DeletionGuard::isStrictlyInside(QStringLiteral("/a/b"), QStringLiteral("/a")));
        QVERIFY(DeletionGuard::isStrictlyInside(QStringLiteral("/a"), QStringLiteral("/")));
        QVERIFY(!DeletionGuard::isStrictlyInside(QStringLiteral("/a"), QStringLiteral("/a")));
        QVERIFY(!DeletionGuard::isStrictlyInside(QStringLiteral("/ab"), QStringLiteral("/a")));
        QVERIFY(!DeletionGuard::isStrictlyInside(QStringLiteral("/a/"), QStringLiteral("/a")));
    }
};

QTEST_GUILESS_MAIN(TestDeletionGuard)
#include "tst_DeletionGuard.moc"
