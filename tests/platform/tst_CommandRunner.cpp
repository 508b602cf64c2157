#include "platform/CommandRunner.h"
#include "support/FixtureTree.h"

#include <QSignalSpy>
#include <QTest>

#include <optional>

namespace {
void writeTool(const FixtureTree &tree, const QString &name, const QByteArray &body)
{
    tree.write(QStringLiteral("bin/") + name, "#!/bin/sh\n" + body);
    QFile::setPermissions(tree.path(QStringLiteral("bin/") + name), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

// Runs one command and spins the event loop until its callback fires.
std::optional<CommandRunner::Result> runOnce(CommandRunner &runner, const QString &program, const QStringList &args,
                                             int timeoutMs = CommandRunner::kDefaultTimeoutMs)
{
    std::optional<CommandRunner::Result> result;
    runner.run(program, args, [&result](const CommandRunner::Result &r) { result = r; }, timeoutMs);
    if (result)
        return std::nullopt;   // callers must never be re-entered from run() itself
    if (!QTest::qWaitFor([&result] { return result.has_value(); }, 10000))
        return std::nullopt;
    return result;
}
}

class TestCommandRunner : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void resolvesOnlyInItsSearchPath()
    {
        FixtureTree tree;
        writeTool(tree, QStringLiteral("docker"), "exit 0\n");
        CommandRunner inTree(QStringList{tree.path(QStringLiteral("bin"))});
        QCOMPARE(inTree.resolve(QStringLiteral("docker")), tree.path(QStringLiteral("bin/docker")));
        QVERIFY(inTree.resolve(QStringLiteral("sh")).isEmpty());

        // An empty list is no folders at all, not the PATH environment.
        CommandRunner nowhere(QStringList{});
        QVERIFY(nowhere.resolve(QStringLiteral("sh")).isEmpty());
        const auto missing = runOnce(nowhere, QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("true")});
        QVERIFY(missing);
        QVERIFY(!missing->started);
        QVERIFY(missing->error.contains(QLatin1String("not found")));

        CommandRunner onPath;
        QVERIFY(!onPath.resolve(QStringLiteral("sh")).isEmpty());
    }

    void reportsOutputExitCodeAndTimeout()
    {
        FixtureTree tree;
        writeTool(tree, QStringLiteral("echoargs"), "echo \"$1|$2\"\necho oops >&2\nexit 3\n");
        writeTool(tree, QStringLiteral("hang"), "exec sleep 30\n");
        CommandRunner runner(QStringList{tree.path(QStringLiteral("bin"))});

        const auto echoed = runOnce(runner, QStringLiteral("echoargs"), {QStringLiteral("a b"), QStringLiteral("{{.ID}}")});
        QVERIFY(echoed);
        QVERIFY(echoed->started);
        QVERIFY(echoed->finished);
        QCOMPARE(echoed->exitCode, 3);
        QCOMPARE(echoed->output, QByteArray("a b|{{.ID}}\n"));   // stderr is not mixed in
        QCOMPARE(runner.running(), 0);

        const auto hung = runOnce(runner, QStringLiteral("hang"), {}, 200);
        QVERIFY(hung);
        QVERIFY(hung->started);
        QVERIFY(!hung->finished);
        QCOMPARE(hung->error, QStringLiteral("timed out"));
        QCOMPARE(runner.running(), 0);
    }
};

QTEST_GUILESS_MAIN(TestCommandRunner)
#include "tst_CommandRunner.moc"
