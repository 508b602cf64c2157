#pragma once

#include <QMetaType>
#include <QString>
#include <QMetaType>

// An editor companion process left running after its editor closed.
struct OrphanedCompanionInfo
{
    Q_GADGET
    Q_PROPERTY(QString id READ id)
    Q_PROPERTY(QString name MEMBER name)
    Q_PROPERTY(int pid MEMBER pid)
    Q_PROPERTY(QString memoryUsage MEMBER memoryUsage)
    Q_PROPERTY(QString targetIDE MEMBER targetIDE)

public:
    QString name;                // process name
    int pid = 0;
    QString memoryUsage;         // display text of its memory footprint
    QString targetIDE;           // the editor and its state, "VS Code (Closed)"

    QString id() const { return QString::number(pid); }
    bool operator==(const OrphanedCompanionInfo &) const = default;
};

Q_DECLARE_METATYPE(OrphanedCompanionInfo)
