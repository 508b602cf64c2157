#pragma once

#include "MetricFamily.h"

#include <QList>
#include <QAnyStringView>

// Every figure Quillmoor exports, in one table: its name, type, unit and help, and what it
// is read from. Names follow Prometheus's practice, prefixed "quillmoor_": base units in
// the name, "_total" on counters, "_info" on metadata, and node_exporter's words where the
// two overlap, so dashboards built for one read the other.
class MetricCatalog
{
public:
    static const QList<MetricDefinition> &all();
    // The definition of a family name from the table; the process stops on a name that
    // is not there, which is a programming error caught by the first test that scrapes.
    static const MetricDefinition &get(QAnyStringView name);
};
