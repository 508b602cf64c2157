#include "MetricsFormatter.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>

#include <cmath>

namespace {
QByteArray typeName(MetricType type, bool openMetrics)
{
    switch (type) {
    case MetricType::Counter: return QByteArrayLiteral("counter");
    case MetricType::Info: return openMetrics ? QByteArrayLiteral("info") : QByteArrayLiteral("gauge");
    case MetricType::Gauge: break;
    }
    return QByteArrayLiteral("gauge");
}

void writeSamples(QByteArray &out, const MetricFamily &family)
{
    const QByteArray name = family.sampleName().toUtf8();
    for (const MetricSample &sample : family.samples) {
        out += name;
        if (!sample.labels.isEmpty()) {
            out += '{';
            for (qsizetype i = 0; i < sample.labels.size(); ++i) {
                if (i > 0)
                    out += ',';
                out += sample.labels.at(i).first.toUtf8();
                out += "=\"";
                out += MetricsFormatter::escapeLabelValue(sample.labels.at(i).second);
                out += '"';
            }
            out += '}';
        }
        out += ' ';
        out += MetricsFormatter::number(sample.value);
        out += '\n';
    }
}

QByteArray text(const QList<MetricFamily> &families, bool openMetrics)
{
    QByteArray out;
    out.reserve(families.size() * 160);
    for (const MetricFamily &family : families) {
        if (family.samples.isEmpty())
            continue;
        const MetricDefinition &d = *family.definition;
        // The classic format names a counter's family by its samples; OpenMetrics by the
        // name without "_total" (and "_info").
        const QByteArray declared = openMetrics ? d.name.toUtf8() : family.sampleName().toUtf8();
        out += "# HELP " + declared + ' ' + MetricsFormatter::escapeHelp(d.help, openMetrics) + '\n';
        out += "# TYPE " + declared + ' ' + typeName(d.type, openMetrics) + '\n';
        if (openMetrics && !d.unit.isEmpty())
            out += "# UNIT " + declared + ' ' + d.unit.toUtf8() + '\n';
        writeSamples(out, family);
    }
    if (openMetrics)
        out += "# EOF\n";
    return out;
}
}

MetricsFormatter::Format MetricsFormatter::formatFor(const QByteArray &accept)
{
    // Prometheus sends "application/openmetrics-text;version=1.0.0,...;q=0.5,text/plain;..."
    // and takes whichever comes back; a q of 0 would refuse it, which no scraper sends.
    for (const QByteArray &range : accept.split(',')) {
        const QList<QByteArray> parts = range.split(';');
        if (parts.first().trimmed().toLower() != "application/openmetrics-text")
            continue;
        bool refused = false;
        for (qsizetype i = 1; i < parts.size(); ++i) {
            const QByteArray parameter = parts.at(i).trimmed().toLower();
            if (parameter.startsWith("q=") && parameter.mid(2).toDouble() <= 0)
                refused = true;
        }
        if (!refused)
            return Format::OpenMetrics;
    }
    return Format::Prometheus;
}

QByteArray MetricsFormatter::contentType(Format format)
{
    switch (format) {
    case Format::OpenMetrics: return kOpenMetricsContentType;
    case Format::Json: return QByteArrayLiteral("application/json");
    case Format::Prometheus: break;
    }
    return kPrometheusContentType;
}

QByteArray MetricsFormatter::write(const QList<MetricFamily> &families, Format format)
{
    switch (format) {
    case Format::OpenMetrics: return openMetrics(families);
    case Format::Json: return json(families);
    case Format::Prometheus: break;
    }
    return prometheus(families);
}

QByteArray MetricsFormatter::prometheus(const QList<MetricFamily> &families)
{
    return text(families, false);
}

QByteArray MetricsFormatter::openMetrics(const QList<MetricFamily> &families)
{
    return text(families, true);
}

QByteArray MetricsFormatter::json(const QList<MetricFamily> &families)
{
    QJsonObject metrics;
    for (const MetricFamily &family : families) {
        if (family.samples.isEmpty())
            continue;
        QJsonArray samples;
        for (const MetricSample &sample : family.samples) {
            QJsonObject labels;
            for (const auto &[key, value] : sample.labels)
                labels.insert(key, value);
            // JSON has no NaN or infinity; such a figure is written as null.
            const QJsonValue value = std::isfinite(sample.value) ? QJsonValue(sample.value) : QJsonValue();
            samples.append(QJsonObject{{QStringLiteral("labels"), labels}, {QStringLiteral("value"), value}});
        }
        metrics.insert(family.sampleName(), samples);
    }
    return QJsonDocument(QJsonObject{{QStringLiteral("metrics"), metrics}}).toJson(QJsonDocument::Compact) + '\n';
}

QByteArray MetricsFormatter::escapeLabelValue(const QString &value)
{
    const QByteArray utf8 = value.toUtf8();
    QByteArray out;
    out.reserve(utf8.size());
    for (const char c : utf8) {
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '"': out += "\\\""; break;
        case '\n': out += "\\n"; break;
        default: out += c;
        }
    }
    return out;
}

QByteArray MetricsFormatter::escapeHelp(const QString &help, bool openMetrics)
{
    const QByteArray utf8 = help.toUtf8();
    QByteArray out;
    out.reserve(utf8.size());
    for (const char c : utf8) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '"' && openMetrics)
            out += "\\\"";
        else
            out += c;
    }
    return out;
}

QByteArray MetricsFormatter::number(double value)
{
    if (std::isnan(value))
        return QByteArrayLiteral("NaN");
    if (std::isinf(value))
        return value > 0 ? QByteArrayLiteral("+Inf") : QByteArrayLiteral("-Inf");
    // Whole numbers below 2^53 are written as integers, as counters of bytes read best.
    if (value == std::floor(value) && std::fabs(value) < 9007199254740992.0)
        return QByteArray::number(static_cast<qint64>(value));
    return QByteArray::number(value, 'g', QLocale::FloatingPointShortest);
}
