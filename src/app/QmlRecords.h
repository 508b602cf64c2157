#pragma once

#include <QList>
#include <QVariantList>

// A list of value records as QML reads it: one map per record, keyed by field name.
template<typename Record>
QVariantList toVariantList(const QList<Record> &records)
{
    QVariantList list;
    list.reserve(records.size());
    for (const Record &record : records)
        list.append(record.toVariantMap());
    return list;
}
