#include "platform/UserPaths.h"

#include <QHash>
#include <QTest>

namespace {
const QString kHome = QStringLiteral("/home/ada");
}

class TestUserPaths : public QObject
{
    Q_OBJECT

    QHash<QString, QString> env;

    UserPaths paths() const
    {
        return UserPaths(kHome, [this](const char *name) { return env.value(QLatin1String(name)); });
    }

    static QString server(const char *value) { return UserPaths::ollamaServerFor(QString::fromUtf8(value)).toString(); }

private Q_SLOTS:
    void init() { env.clear(); }

    // The server's address, case by case as Ollama reads OLLAMA_HOST, then as a client on
    // this machine reaches it.
    void ollamaHostForms_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("reached");
        const auto row = [](const char *tag, const char *value, const char *reached) {
            QTest::newRow(tag) << QString::fromUtf8(value) << QString::fromUtf8(reached);
        };
        row("unset", "", "http://127.0.0.1:11434");
        row("blanks only", "   ", "http://127.0.0.1:11434");
        row("host", "box.lan", "http://box.lan:11434");
        row("host and port", "127.0.0.1:9999", "http://127.0.0.1:9999");
        row("port alone", ":8080", "http://127.0.0.1:8080");
        row("every v4 address", "0.0.0.0", "http://127.0.0.1:11434");
        row("every v4 address, port", "0.0.0.0:7000", "http://127.0.0.1:7000");
        row("every v6 address", "::", "http://[::1]:11434");
        row("every v6 address, brackets and port", "[::]:7000", "http://[::1]:7000");
        row("v6 loopback, brackets and port", "[::1]:7000", "http://[::1]:7000");
        row("v6 in brackets, no port", "[fe80::1]", "http://[fe80::1]:11434");
        row("bare v6", "fd00::5", "http://[fd00::5]:11434");
        row("double quotes", "\"box.lan:8000\"", "http://box.lan:8000");
        row("single quotes and blanks", "  '0.0.0.0:8000'  ", "http://127.0.0.1:8000");
        row("http without a port", "http://box.lan", "http://box.lan:80");
        row("https without a port", "https://box.lan", "https://box.lan:443");
        row("https with a port", "https://box.lan:8443", "https://box.lan:8443");
        row("http, every address", "http://0.0.0.0", "http://127.0.0.1:80");
        row("path dropped", "http://box.lan:8080/ollama/", "http://box.lan:8080");
        row("empty port", "box.lan:", "http://box.lan:11434");
        row("port out of range", "box.lan:70000", "http://box.lan:11434");
        row("port not a number", "box.lan:http", "http://box.lan:11434");
        row("https, bad port", "https://box.lan:x", "https://box.lan:443");
        row("unreadable host", "bad host name", "http://127.0.0.1:11434");
    }

    void ollamaHostForms()
    {
        QFETCH(QString, value);
        QFETCH(QString, reached);
        QCOMPARE(UserPaths::ollamaServerFor(value).toString(), reached);
        env.insert(QStringLiteral("OLLAMA_HOST"), value);
        QCOMPARE(paths().ollamaServer().toString(), reached);
    }

    void ollamaModelsFolder()
    {
        QCOMPARE(paths().ollamaModels(), QStringLiteral("/home/ada/.ollama/models"));
        env.insert(QStringLiteral("OLLAMA_MODELS"), QStringLiteral("/srv/models"));
        QCOMPARE(paths().ollamaModels(), QStringLiteral("/srv/models"));
        // Quoted as a systemd unit or a .env file often writes it.
        env.insert(QStringLiteral("OLLAMA_MODELS"), QStringLiteral(" \"/srv/my models/\" "));
        QCOMPARE(paths().ollamaModels(), QStringLiteral("/srv/my models"));
        env.insert(QStringLiteral("OLLAMA_MODELS"), QStringLiteral("'/srv/a/../b'"));
        QCOMPARE(paths().ollamaModels(), QStringLiteral("/srv/b"));
        // Relative to a working directory this process cannot know: the default.
        for (const char *relative : {"models", "./models", "'models'", "~/models"}) {
            env.insert(QStringLiteral("OLLAMA_MODELS"), QString::fromUtf8(relative));
            QCOMPARE(paths().ollamaModels(), QStringLiteral("/home/ada/.ollama/models"));
        }
        env.insert(QStringLiteral("OLLAMA_MODELS"), QStringLiteral("\"\""));
        QCOMPARE(paths().ollamaModels(), QStringLiteral("/home/ada/.ollama/models"));
    }

    void ollamaValueStripsBlanksThenQuotes()
    {
        QCOMPARE(UserPaths::ollamaValue(QStringLiteral("  \"x\"  ")), QStringLiteral("x"));
        QCOMPARE(UserPaths::ollamaValue(QStringLiteral("'\"x\"'")), QStringLiteral("x"));
        QCOMPARE(UserPaths::ollamaValue(QStringLiteral("a'b")), QStringLiteral("a'b"));
        QCOMPARE(UserPaths::ollamaValue(QStringLiteral("\"'")), QString());
    }

    void xdgFoldersIgnoreRelativeValues()
    {
        QCOMPARE(paths().configHome(), QStringLiteral("/home/ada/.config"));
        QCOMPARE(paths().cacheHome(), QStringLiteral("/home/ada/.cache"));
        QCOMPARE(paths().dataHome(), QStringLiteral("/home/ada/.local/share"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), QStringLiteral("/cfg/"));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), QStringLiteral("/var/cache/ada"));
        env.insert(QStringLiteral("XDG_DATA_HOME"), QStringLiteral("/data/./ada"));
        QCOMPARE(paths().configHome(), QStringLiteral("/cfg"));
        QCOMPARE(paths().cacheHome(), QStringLiteral("/var/cache/ada"));
        QCOMPARE(paths().dataHome(), QStringLiteral("/data/ada"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), QStringLiteral("cfg"));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), QStringLiteral("~/.cache2"));
        env.insert(QStringLiteral("XDG_DATA_HOME"), QStringLiteral(" /data"));
        QCOMPARE(paths().configHome(), QStringLiteral("/home/ada/.config"));
        QCOMPARE(paths().cacheHome(), QStringLiteral("/home/ada/.cache"));
        QCOMPARE(paths().dataHome(), QStringLiteral("/home/ada/.local/share"));
        QCOMPARE(paths().absoluteVariable("XDG_CONFIG_HOME"), QString());
    }

    // Each variable wins over the ones after it; a relative one is skipped, not fatal.
    void huggingFaceHubOrder()
    {
        QCOMPARE(paths().huggingFaceHub(), QStringLiteral("/home/ada/.cache/huggingface/hub"));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), QStringLiteral("/xdg"));
        QCOMPARE(paths().huggingFaceHub(), QStringLiteral("/xdg/huggingface/hub"));
        env.insert(QStringLiteral("HF_HOME"), QStringLiteral("/hf"));
        QCOMPARE(paths().huggingFaceHub(), QStringLiteral("/hf/hub"));
        env.insert(QStringLiteral("HF_HUB_CACHE"), QStringLiteral("/hub-cache"));
        QCOMPARE(paths().huggingFaceHub(), QStringLiteral("/hub-cache"));
        env.insert(QStringLiteral("HF_HUB_CACHE"), QStringLiteral("hub-cache"));
        QCOMPARE(paths().huggingFaceHub(), QStringLiteral("/hf/hub"));
        env.insert(QStringLiteral("HF_HOME"), QStringLiteral("hf"));
        QCOMPARE(paths().huggingFaceHub(), QStringLiteral("/xdg/huggingface/hub"));
        env.insert(QStringLiteral("XDG_CACHE_HOME"), QStringLiteral("xdg"));
        QCOMPARE(paths().huggingFaceHub(), QStringLiteral("/home/ada/.cache/huggingface/hub"));
    }

    void emptyHomeIsTheUsersAndUnsetLookupReadsTheEnvironment()
    {
        QVERIFY(!UserPaths().home().isEmpty());
        qputenv("QUILLMOOR_TEST_OLLAMA_PROBE", "x");   // the real lookup is reached
        QCOMPARE(UserPaths(kHome).absoluteVariable("QUILLMOOR_TEST_OLLAMA_PROBE"), QString());
        qputenv("QUILLMOOR_TEST_OLLAMA_PROBE", "/probe/");
        QCOMPARE(UserPaths(kHome).absoluteVariable("QUILLMOOR_TEST_OLLAMA_PROBE"), QStringLiteral("/probe"));
        qunsetenv("QUILLMOOR_TEST_OLLAMA_PROBE");
    }
};

QTEST_GUILESS_MAIN(TestUserPaths)
#include "tst_UserPaths.moc"
