#pragma once

#include <QList>
#include <QString>

#include <utility>

// How a family's figures behave over time, as Prometheus types them.
enum class MetricType { Gauge, Counter, Info };

// One line of the metric catalog: where a figure comes from and how it is exported.
struct MetricDefinition
{
    QString name;     // the family name: for counters without "_total", for info without "_info"
    MetricType type = MetricType::Gauge;
    QString unit;     // the base unit the name ends in ("bytes", "seconds", "ratio"...); may be empty
    QString help;
    QString source;   // which reading or service field gives it, for people reading the catalog
};

using MetricLabels = QList<std::pair<QString, QString>>;

struct MetricSample
{
    MetricLabels labels;
    double value = 0;
};

// A family with the samples one scrape found. A family with no sample is not written.
struct MetricFamily
{
    const MetricDefinition *definition = nullptr;
    QList<MetricSample> samples;

    // The name each sample is written with: "_total" added to counters, "_info" to info.
    QString sampleName() const;
};
