#pragma once

#include "exporter/MetricsCollector.h"
#include "support/FixtureTree.h"

// What a scrape reads on a fixture machine: its /proc and /sys, and `home` inside it as
// the home folder. No services: a test adds the ones it needs.
inline MetricsSources fixtureMetricsSources(const FixtureTree &machine, const QString &home = {})
{
    MetricsSources sources;
    sources.procRoot = machine.root("proc");
    sources.sysRoot = machine.root("sys");
    sources.homePath = machine.path(home);
    return sources;
}
