#pragma once

#include "MetricFamily.h"

#include <QByteArray>
#include <QList>

// Writes a scrape's families as text, with nothing around it: no clock, no I/O, so the
// same families always give the same bytes.
class MetricsFormatter
{
public:
    enum class Format { Prometheus, OpenMetrics, Json };

    static constexpr const char *kPrometheusContentType = "text/plain; version=0.0.4; charset=utf-8";
    static constexpr const char *kOpenMetricsContentType = "application/openmetrics-text; version=1.0.0; charset=utf-8";

    // OpenMetrics when the Accept header asks for it (as Prometheus does), else the classic
    // text format every scraper reads.
    static Format formatFor(const QByteArray &accept);
    static QByteArray contentType(Format format);

    static QByteArray write(const QList<MetricFamily> &families, Format format);
    // The classic text format (0.0.4).
    static QByteArray prometheus(const QList<MetricFamily> &families);
    // OpenMetrics 1.0: UNIT lines, counters declared without "_total", "# EOF" at the end.
    static QByteArray openMetrics(const QList<MetricFamily> &families);
    // {"metrics": {"<sample name>": [{"labels": {...}, "value": v}, ...]}}, for scripts and
    // status bars; figures are the same as in the text formats.
    static QByteArray json(const QList<MetricFamily> &families);

    // A label value with backslash, double quote and line feed escaped.
    static QByteArray escapeLabelValue(const QString &value);
    // A HELP text with backslash and line feed escaped (and, for OpenMetrics, quotes too).
    static QByteArray escapeHelp(const QString &help, bool openMetrics);
    // A value as both formats spell it: shortest round-trip, "NaN", "+Inf", "-Inf".
    static QByteArray number(double value);
};
