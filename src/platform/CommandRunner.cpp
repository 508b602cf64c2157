#include "CommandRunner.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTimer>

#include <memory>

CommandRunner::CommandRunner(std::optional<QStringList> searchPath, QObject *parent)
    : QObject(parent)
    , m_searchPath(std::move(searchPath))
{
}

// Children still running belong to QProcess objects parented to this runner: deleting
// them kills what is left, so nothing outlives the program by accident.
CommandRunner::~CommandRunner() = default;

QString CommandRunner::resolve(const QString &program) const
{
    if (!m_searchPath)
        return QStandardPaths::findExecutable(program);
    // Qt reads an empty list as "use PATH"; a caller that gave no folders means none.
    if (m_searchPath->isEmpty())
        return {};
    return QStandardPaths::findExecutable(program, *m_searchPath);
}

void CommandRunner::run(const QString &program, const QStringList &arguments, Done done, int timeoutMs)
{
    const QString path = resolve(program);
    if (path.isEmpty()) {
        QTimer::singleShot(0, this, [done = std::move(done), program] {
            if (done)
                done(Result{false, false, -1, {}, QStringLiteral("%1: not found").arg(program)});
        });
        return;
    }

    auto *process = new QProcess(this);
    auto result = std::make_shared<Result>();
    auto callback = std::make_shared<Done>(std::move(done));
    auto *deadline = new QTimer(process);
    deadline->setSingleShot(true);
    process->setProgram(path);
    process->setArguments(arguments);
    if (m_discardsErrors)
        process->setStandardErrorFile(QProcess::nullDevice());
    else
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->setStandardInputFile(QProcess::nullDevice());

    auto reported = std::make_shared<bool>(false);
    const auto finish = [this, process, result, callback, reported] {
        if (!*reported) {
            *reported = true;
            if (result->started)
                --m_running;
            if (*callback)
                (*callback)(*result);
        }
        process->deleteLater();
    };
    connect(process, &QProcess::readyReadStandardOutput, this, [process, result] {
        result->output += process->readAllStandardOutput();
    });
    connect(process, &QProcess::started, this, [this, result, deadline, timeoutMs] {
        result->started = true;
        ++m_running;
        deadline->start(timeoutMs);
    });
    connect(deadline, &QTimer::timeout, process, [process, result] {
        result->error = QStringLiteral("timed out");
        process->kill();
    });
    connect(process, &QProcess::finished, this, [process, result, finish](int code, QProcess::ExitStatus status) {
        result->output += process->readAllStandardOutput();
        result->exitCode = code;
        result->finished = status == QProcess::NormalExit && result->error.isEmpty();
        if (status != QProcess::NormalExit && result->error.isEmpty())
            result->error = process->errorString();
        finish();
    });
    connect(process, &QProcess::errorOccurred, this, [process, result, finish](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;   // crashes and kills arrive through finished()
        result->error = process->errorString();
        finish();
    });
    process->start();
}
