#pragma once

// Real processes under names of the test's choosing, for the protections that find the
// machine's processes by name: each is a copy of sleep, so its comm and exe both carry the
// name. Every one still running is thawed and killed when the set ends.

#include "support/FixtureTree.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <csignal>
#include <memory>
#include <vector>

class NamedProcesses
{
public:
    NamedProcesses() = default;
    NamedProcesses(const NamedProcesses &) = delete;
    NamedProcesses &operator=(const NamedProcesses &) = delete;
    ~NamedProcesses() { stopAll(); }

    // A process called `name`, sleeping a minute; null when it could not start.
    QProcess *start(const FixtureTree &tree, const QString &name)
    {
        const QString copy = tree.path("progs/" + name);
        QDir().mkpath(tree.path("progs"));
        if (!QFileInfo::exists(copy) && !QFile::copy(QStandardPaths::findExecutable(QStringLiteral("sleep")), copy))
            return nullptr;
        QFile::setPermissions(copy, QFile::ReadOwner | QFile::ExeOwner);
        auto p = std::make_unique<QProcess>();
        p->start(copy, {QStringLiteral("60")});
        if (!p->waitForStarted())
            return nullptr;
        m_children.push_back(std::move(p));
        return m_children.back().get();
    }

    void stopAll()
    {
        for (auto &p : m_children) {
            ::kill(static_cast<pid_t>(p->processId()), SIGCONT);
            p->kill();
            p->waitForFinished();
        }
        m_children.clear();
    }

private:
    std::vector<std::unique_ptr<QProcess>> m_children;
};
