#pragma once

#include <QObject>
#include <QString>

class QProcess;

// Asks the kernel to write back dirty pages, drop its clean caches and compact memory.
// That needs root, so the work is done by a small helper program, started through pkexec
// (polkit asks the user) unless this program already runs as root.
class MemoryPurger : public QObject
{
    Q_OBJECT

public:
    enum class Outcome { Done, Refused, Unavailable, Failed };
    Q_ENUM(Outcome)

    // `helperPath` is the helper program; `pkexecPath` the polkit launcher, used when
    // `elevate` is true. Empty paths mean: look for them where the app installs them.
    MemoryPurger(QString helperPath = {}, QString pkexecPath = {}, bool elevate = defaultElevate(),
                 QObject *parent = nullptr);
    ~MemoryPurger() override;

    // Starts the purge; finished() follows. A second call while one runs is ignored.
    void start();
    bool isRunning() const { return m_process != nullptr; }

    static bool defaultElevate();
    // The helper next to the executable, else in ../libexec/quillmoor.
    static QString locateHelper();

Q_SIGNALS:
    // `message` says why when the outcome is not Done.
    void finished(MemoryPurger::Outcome outcome, const QString &message);

private:
    void finish(Outcome outcome, const QString &message);

    QString m_helperPath;
    QString m_pkexecPath;
    bool m_elevate;
    QProcess *m_process = nullptr;
};
