#include "platform/DeletionGuard.h"
#include "support/FixtureTree.h"

#include <QTest>

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
        // Contents: the folder a link leads to.
        QCOMPARE(guard.contents(at(QStringLiteral("home/cache/linked"))).location, at(QStringLiteral("elsewhere/models")));
        QCOMPARE(guard.contents(at(QStringLiteral("home/cache/blobs/a"))).kind, Kind::Nothing);
        QCOMPARE(guard.contents(at(QStringLiteral("home/cache/gone"))).kind, Kind::Nothing);
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
