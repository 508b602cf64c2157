#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// Starts outside programs found on a search path without ever waiting for them: the
// caller hears of the exit through a callback on its own thread. Standard output is read
// as it arrives (a long listing never fills the pipe); standard error goes to ours.
class CommandRunner : public QObject
{
    Q_OBJECT

public:
    struct Result
    {
        bool started = false;    // false: not found on the search path, or could not be executed
        bool finished = false;   // exited by itself (not crashed, not killed for running too long)
        int exitCode = -1;
        QByteArray output;
        QString error;           // why it did not start or finish
    };
    using Done = std::function<void(const Result &)>;

    static constexpr int kDefaultTimeoutMs = 15000;

    // `searchPath`: the folders programs are looked up in; unset, the PATH environment.
    explicit CommandRunner(std::optional<QStringList> searchPath = {}, QObject *parent = nullptr);
    ~CommandRunner() override;

    // The absolute path `program` resolves to, empty when it is not on the search path.
    QString resolve(const QString &program) const;

    // Runs `program`; `done`, when given, is called exactly once, always after run()
    // returns. A program still running after `timeoutMs` is killed.
    void run(const QString &program, const QStringList &arguments, Done done = {},
             int timeoutMs = kDefaultTimeoutMs);

    // Programs started and not yet exited.
    int running() const { return m_running; }

    // Standard error of later runs goes nowhere instead of to ours: for tools that answer
    // "nothing found" there on every miss.
    void setDiscardsStandardError(bool discard) { m_discardsErrors = discard; }

private:
    std::optional<QStringList> m_searchPath;
    bool m_discardsErrors = false;
    int m_running = 0;
};
