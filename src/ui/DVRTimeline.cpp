#include "DVRTimeline.h"

DVRTimeline::DVRTimeline(QObject *parent)
    : QObject(parent)
    , m_processes(new RecordListModel<ProcessInfoData>(this))
{
}

void DVRTimeline::setSnapshots(RecordListModelBase *model)
{
    if (m_snapshots == model)
        return;
    if (m_snapshots)
        m_snapshots->disconnect(this);
    m_snapshots = model;
    if (model) {
        // A sample's apply() removes the oldest row and inserts the newest in separate steps;
        // each step leaves a consistent list, so following every one is safe.
        connect(model, &QAbstractItemModel::rowsInserted, this, &DVRTimeline::resync);
        connect(model, &QAbstractItemModel::rowsRemoved, this, &DVRTimeline::resync);
        connect(model, &QAbstractItemModel::rowsMoved, this, &DVRTimeline::resync);
        connect(model, &QAbstractItemModel::dataChanged, this, &DVRTimeline::resync);
        connect(model, &QAbstractItemModel::modelReset, this, &DVRTimeline::resync);
        connect(model, &QObject::destroyed, this, &DVRTimeline::resync);
    }
    Q_EMIT snapshotsChanged();
    resync();
}

void DVRTimeline::resync()
{
    const int before = count();
    auto *records = dynamic_cast<RecordListModel<DVRSnapshot> *>(m_snapshots.data());
    m_rows = records ? records->rows() : QList<DVRSnapshot>{};

    QList<qreal> history;
    history.reserve(m_rows.size());
    for (const DVRSnapshot &snapshot : m_rows)
        history.append(snapshot.cpuUsage);
    if (history != m_history) {
        m_history = history;
        Q_EMIT historyChanged();
    }
    if (before != count())
        Q_EMIT countChanged();

    int next = -1;
    if (!m_rows.isEmpty()) {
        next = int(m_rows.size()) - 1;
        if (!m_followLatest) {
            next = 0;   // the chosen one fell off the old end: the oldest left
            for (int i = 0; i < m_rows.size(); ++i)
                if (m_rows[i].id == m_selected)
                    next = i;
        }
    }
    select(next);
}

void DVRTimeline::setIndex(int index)
{
    if (m_rows.isEmpty())
        return;
    const int last = int(m_rows.size()) - 1;
    index = qBound(0, index, last);
    const bool follow = index == last;
    if (follow != m_followLatest) {
        m_followLatest = follow;
        if (index == m_index)
            Q_EMIT indexChanged();
    }
    select(index);
}

void DVRTimeline::select(int index)
{
    const QUuid id = index >= 0 ? m_rows[index].id : QUuid();
    const bool moved = index != m_index;
    const bool other = id != m_selected;
    m_index = index;
    m_selected = id;
    m_processes->apply(index >= 0 ? m_rows[index].topProcesses : QList<ProcessInfoData>{});
    if (moved)
        Q_EMIT indexChanged();
    // The newest snapshot's age changes with every new one, even when it stays chosen.
    if (moved || other || !m_followLatest)
        Q_EMIT selectionChanged();
}

QDateTime DVRTimeline::timestamp() const
{
    return m_index >= 0 ? m_rows[m_index].timestamp : QDateTime();
}

double DVRTimeline::cpuUsage() const
{
    return m_index >= 0 ? m_rows[m_index].cpuUsage : 0.0;
}

int DVRTimeline::secondsBeforeLatest() const
{
    if (m_index < 0)
        return 0;
    return int(m_rows[m_index].timestamp.secsTo(m_rows.last().timestamp));
}
