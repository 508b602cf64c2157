#include "MemoryPurger.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <unistd.h>

namespace {
const QString kHelperName = QStringLiteral("quillmoor-memory-purge");

// pkexec's own exit codes when it never ran the program.
constexpr int kPkexecNotAuthorized = 126;
constexpr int kPkexecCannotAuthenticate = 127;
}

MemoryPurger::MemoryPurger(QString helperPath, QString pkexecPath, bool elevate, QObject *parent)
    : QObject(parent)
    , m_helperPath(helperPath.isEmpty() ? locateHelper() : std::move(helperPath))
    , m_pkexecPath(pkexecPath.isEmpty() ? QStandardPaths::findExecutable(QStringLiteral("pkexec")) : std::move(pkexecPath))
    , m_elevate(elevate)
{
}

MemoryPurger::~MemoryPurger()
{
    if (m_process) {
        m_process->disconnect(this);
        // Let an authorised purge run to its end; it does no harm unattended.
        m_process->setParent(nullptr);
        QObject::connect(m_process, &QProcess::finished, m_process, &QObject::deleteLater);
    }
}

bool MemoryPurger::defaultElevate()
{
    return ::geteuid() != 0;
}

QString MemoryPurger::locateHelper()
{
    const QString appDir = QCoreApplication::applicationDirPath();
    for (const QString &candidate : {QDir(appDir).filePath(kHelperName),
                                     QDir(appDir).filePath(QStringLiteral("../libexec/quillmoor/") + kHelperName)}) {
        const QFileInfo info(candidate);
        if (info.isFile() && info.isExecutable())
            return info.canonicalFilePath();
    }
    return {};
}

void MemoryPurger::start()
{
    if (m_process)
        return;
    if (m_helperPath.isEmpty() || !QFileInfo(m_helperPath).isExecutable()) {
        QMetaObject::invokeMethod(this, [this] {
            finish(Outcome::Unavailable, QStringLiteral("The memory purge helper is not installed."));
        }, Qt::QueuedConnection);
        return;
    }
    if (m_elevate && m_pkexecPath.isEmpty()) {
        QMetaObject::invokeMethod(this, [this] {
            finish(Outcome::Unavailable, QStringLiteral("Purging memory needs administrator rights, and pkexec (polkit) is not installed."));
        }, Qt::QueuedConnection);
        return;
    }

    m_process = new QProcess(this);
    m_process->setProcessChannelMode(QProcess::SeparateChannels);
    connect(m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            finish(Outcome::Unavailable, QStringLiteral("Could not start the memory purge: ") + m_process->errorString());
    });
    connect(m_process, &QProcess::finished, this, [this](int code, QProcess::ExitStatus status) {
        const QString detail = QString::fromLocal8Bit(m_process->readAllStandardError()).trimmed();
        if (status != QProcess::NormalExit)
            finish(Outcome::Failed, QStringLiteral("The memory purge stopped unexpectedly."));
        else if (code == 0)
            finish(Outcome::Done, {});
        else if (m_elevate && code == kPkexecNotAuthorized)
            finish(Outcome::Refused, QStringLiteral("Purging memory needs administrator rights, which were not granted."));
        else if (m_elevate && code == kPkexecCannotAuthenticate)
            finish(Outcome::Refused, QStringLiteral("Purging memory needs administrator rights, and no authentication agent is running."));
        else
            finish(Outcome::Failed, detail.isEmpty() ? QStringLiteral("The kernel refused to purge memory.") : detail);
    });
    if (m_elevate)
        m_process->start(m_pkexecPath, {m_helperPath});
    else
        m_process->start(m_helperPath, {});
}

void MemoryPurger::finish(Outcome outcome, const QString &message)
{
    if (m_process) {
        m_process->disconnect(this);
        m_process->deleteLater();
        m_process = nullptr;
    }
    Q_EMIT finished(outcome, message);
}
