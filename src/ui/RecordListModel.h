#pragma once

#include <QAbstractListModel>
#include <QHash>
#include <QList>
#include <QMetaProperty>
#include <QSet>
#include <QStringList>
#include <QVariant>
#include <QtQml/qqmlregistration.h>

#include <concepts>
#include <vector>

// The part of a record list that QML sees whatever the record type: a row count that
// bindings can follow.
class RecordListModelBase : public QAbstractListModel
{
    Q_OBJECT
    QML_ANONYMOUS
    Q_PROPERTY(int count READ count NOTIFY countChanged)

public:
    using QAbstractListModel::QAbstractListModel;

    int count() const { return rowCount(); }

Q_SIGNALS:
    void countChanged();
    // Once after a new list inserted, removed or moved rows. A view lays its rows out while
    // the next frame is being prepared, and with Qt Quick's software renderer a row moved
    // then costs a second, empty frame; a view that lays them out here (forceLayout()) does
    // it before the frame starts.
    void reordered();
};

// A list of value records as a QML model. The roles are the record's own Q_GADGET
// properties, so a delegate declares `required property string name` and reads the field
// itself. apply() takes the service's new list and matches rows by their `id`: rows that
// stayed are updated in place (dataChanged for the fields that changed, nothing for rows
// that did not), so a delegate keeps its state (an open popup, a hover) across samples;
// rows that came are inserted and rows that went are removed. A row that moved is moved,
// not rebuilt.
template<typename T>
class RecordListModel : public RecordListModelBase
{
public:
    explicit RecordListModel(QObject *parent = nullptr)
        : RecordListModelBase(parent)
    {
        const QMetaObject &meta = T::staticMetaObject;
        for (int i = 0; i < meta.propertyCount(); ++i) {
            m_properties.push_back(meta.property(i));
            m_roles.insert(Qt::UserRole + i, meta.property(i).name());
            if (qstrcmp(meta.property(i).name(), "id") == 0)
                m_idProperty = i;
        }
        Q_ASSERT_X(m_idProperty >= 0, "RecordListModel", "a record needs an id property");
    }

    int rowCount(const QModelIndex &parent = {}) const override { return parent.isValid() ? 0 : int(m_rows.size()); }

    QVariant data(const QModelIndex &index, int role) const override
    {
        const int field = role - Qt::UserRole;
        if (!index.isValid() || index.row() >= m_rows.size() || field < 0 || field >= int(m_properties.size()))
            return {};
        return m_properties[field].readOnGadget(&m_rows[index.row()]);
    }

    QHash<int, QByteArray> roleNames() const override { return m_roles; }

    const QList<T> &rows() const { return m_rows; }

    void apply(const QList<T> &next)
    {
        const int before = int(m_rows.size());
        bool reordering = false;
        QStringList nextIds;
        nextIds.reserve(next.size());
        for (const T &record : next)
            nextIds.append(idOf(record));
        const QSet<QString> wanted(nextIds.cbegin(), nextIds.cend());

        // Rows whose id is gone, from the bottom so the indexes above stay valid.
        for (int row = int(m_rows.size()) - 1; row >= 0; --row) {
            if (!wanted.contains(m_ids[row])) {
                reordering = true;
                beginRemoveRows({}, row, row);
                m_rows.removeAt(row);
                m_ids.removeAt(row);
                endRemoveRows();
            }
        }

        // Now every current row is wanted; walk the new order, moving or inserting each
        // wanted row into place and updating it where its fields changed.
        for (int target = 0; target < next.size(); ++target) {
            const qsizetype found = m_ids.indexOf(nextIds[target], target);
            if (found < 0) {
                reordering = true;
                beginInsertRows({}, target, target);
                m_rows.insert(target, next[target]);
                m_ids.insert(target, nextIds[target]);
                endInsertRows();
                continue;
            }
            if (found != target) {
                reordering = true;
                beginMoveRows({}, int(found), int(found), {}, target);
                m_rows.move(found, target);
                m_ids.move(found, target);
                endMoveRows();
            }
            update(target, next[target]);
        }
        // Left over only where the old list repeated an id the new one has once.
        if (m_rows.size() > next.size()) {
            reordering = true;
            beginRemoveRows({}, int(next.size()), int(m_rows.size()) - 1);
            m_rows.resize(next.size());
            m_ids.resize(next.size());
            endRemoveRows();
        }
        if (before != m_rows.size())
            Q_EMIT countChanged();
        if (reordering)
            Q_EMIT reordered();
    }

private:
    // Ids are ints, strings or UUIDs; their text is the key.
    QString idOf(const T &record) const { return m_properties[m_idProperty].readOnGadget(&record).toString(); }

    void update(int row, const T &record)
    {
        // Most rows of most samples are unchanged: one comparison instead of reading every
        // field of both through the meta-object.
        if constexpr (std::equality_comparable<T>) {
            if (m_rows[row] == record)
                return;
        }
        QList<int> changed;
        for (int i = 0; i < int(m_properties.size()); ++i) {
            if (m_properties[i].readOnGadget(&m_rows[row]) != m_properties[i].readOnGadget(&record))
                changed.append(Qt::UserRole + i);
        }
        if (changed.isEmpty())
            return;
        m_rows[row] = record;
        const QModelIndex at = index(row);
        Q_EMIT dataChanged(at, at, changed);
    }

    QList<T> m_rows;
    QStringList m_ids;   // m_rows' ids, in step with it
    std::vector<QMetaProperty> m_properties;
    QHash<int, QByteArray> m_roles;
    int m_idProperty = -1;
};
