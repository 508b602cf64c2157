#pragma once

#include "RecordListModel.h"
#include "processes/DVRSnapshot.h"
#include "processes/ProcessInfoData.h"

#include <QDateTime>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QUuid>
#include <QtQml/qqmlregistration.h>

// The history page's scrubber over the process table's snapshots (Services.dvrSnapshots).
//
// The snapshot list is a window that slides: every sample appends one and, once full,
// drops the oldest. A bare slider position would therefore show a different moment after
// each sample. The timeline holds on to the chosen snapshot instead: at the newest end it
// follows each new one; anywhere else it stays on the same snapshot while the window moves
// under it, and only when that snapshot falls off the old end does it move to the oldest.
class DVRTimeline : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(RecordListModelBase *snapshots READ snapshots WRITE setSnapshots NOTIFY snapshotsChanged)
    Q_PROPERTY(int count READ count NOTIFY countChanged)
    // -1 while there is no snapshot.
    Q_PROPERTY(int index READ index WRITE setIndex NOTIFY indexChanged)
    Q_PROPERTY(bool followsLatest READ followsLatest NOTIFY indexChanged)
    Q_PROPERTY(QDateTime timestamp READ timestamp NOTIFY selectionChanged)
    Q_PROPERTY(double cpuUsage READ cpuUsage NOTIFY selectionChanged)
    // Seconds from the chosen snapshot to the newest one.
    Q_PROPERTY(int secondsBeforeLatest READ secondsBeforeLatest NOTIFY selectionChanged)
    // Each snapshot's whole-machine CPU use, oldest first, for the strip along the time axis.
    Q_PROPERTY(QList<qreal> cpuHistory READ cpuHistory NOTIFY historyChanged)
    // The chosen snapshot's rows; a process seen at the last position keeps its row.
    Q_PROPERTY(RecordListModelBase *processes READ processes CONSTANT)

public:
    explicit DVRTimeline(QObject *parent = nullptr);

    RecordListModelBase *snapshots() const { return m_snapshots; }
    // A model of DVRSnapshot rows; any other model reads as empty.
    void setSnapshots(RecordListModelBase *model);

    int count() const { return int(m_rows.size()); }
    int index() const { return m_index; }
    // Clamped to the list; the last position means "follow the newest".
    void setIndex(int index);
    bool followsLatest() const { return m_followLatest; }

    QDateTime timestamp() const;
    double cpuUsage() const;
    int secondsBeforeLatest() const;
    QList<qreal> cpuHistory() const { return m_history; }
    RecordListModelBase *processes() const { return m_processes; }

Q_SIGNALS:
    void snapshotsChanged();
    void countChanged();
    void indexChanged();
    void selectionChanged();
    void historyChanged();

private:
    void resync();
    void select(int index);

    QPointer<RecordListModelBase> m_snapshots;
    QList<DVRSnapshot> m_rows;
    QList<qreal> m_history;
    RecordListModel<ProcessInfoData> *m_processes;
    int m_index = -1;
    QUuid m_selected;
    bool m_followLatest = true;
};
