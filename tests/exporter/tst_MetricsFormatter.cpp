#include "exporter/MetricCatalog.h"
#include "exporter/MetricsFormatter.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>
#include <QTest>

#include <limits>

namespace {
// A fixed scrape: a counter with two labels, a gauge, a gauge whose label needs escaping,
// an info family, and a family without samples that must not be written at all.
QList<MetricFamily> sample()
{
    return {
        {&MetricCatalog::get(u"quillmoor_cpu_seconds"),
         {{{{"cpu", "0"}, {"mode", "user"}}, 1234.5}, {{{"cpu", "0"}, {"mode", "idle"}}, 98765}}},
        {&MetricCatalog::get(u"quillmoor_memory_pressure_ratio"), {{{}, 0.25}}},
        {&MetricCatalog::get(u"quillmoor_ollama_model_size_bytes"), {}},
        {&MetricCatalog::get(u"quillmoor_temperature_celsius"),
         {{{{"chip", "hwmon1"}, {"label", "say \"hi\"\\now\nnext"}}, 41.5}}},
        {&MetricCatalog::get(u"quillmoor_build"), {{{{"version", "1.2.3"}}, 1}}},
    };
}
}

class TestMetricsFormatter : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void classicTextFormat()
    {
        const QByteArray expected =
            "# HELP quillmoor_cpu_seconds_total Seconds each CPU spent in each mode.\n"
            "# TYPE quillmoor_cpu_seconds_total counter\n"
            "quillmoor_cpu_seconds_total{cpu=\"0\",mode=\"user\"} 1234.5\n"
            "quillmoor_cpu_seconds_total{cpu=\"0\",mode=\"idle\"} 98765\n"
            "# HELP quillmoor_memory_pressure_ratio Share of physical memory in use.\n"
            "# TYPE quillmoor_memory_pressure_ratio gauge\n"
            "quillmoor_memory_pressure_ratio 0.25\n"
            "# HELP quillmoor_temperature_celsius Temperature per hardware sensor.\n"
            "# TYPE quillmoor_temperature_celsius gauge\n"
            "quillmoor_temperature_celsius{chip=\"hwmon1\",label=\"say \\\"hi\\\"\\\\now\\nnext\"} 41.5\n"
            "# HELP quillmoor_build_info The Quillmoor version exporting these figures.\n"
            "# TYPE quillmoor_build_info gauge\n"
            "quillmoor_build_info{version=\"1.2.3\"} 1\n";
        QCOMPARE(MetricsFormatter::prometheus(sample()), expected);
    }

    void openMetricsFormat()
    {
        // Families are declared without "_total"/"_info", carry their unit, and the
        // exposition ends with "# EOF".
        const QByteArray expected =
            "# HELP quillmoor_cpu_seconds Seconds each CPU spent in each mode.\n"
            "# TYPE quillmoor_cpu_seconds counter\n"
            "# UNIT quillmoor_cpu_seconds seconds\n"
            "quillmoor_cpu_seconds_total{cpu=\"0\",mode=\"user\"} 1234.5\n"
            "quillmoor_cpu_seconds_total{cpu=\"0\",mode=\"idle\"} 98765\n"
            "# HELP quillmoor_memory_pressure_ratio Share of physical memory in use.\n"
            "# TYPE quillmoor_memory_pressure_ratio gauge\n"
            "# UNIT quillmoor_memory_pressure_ratio ratio\n"
            "quillmoor_memory_pressure_ratio 0.25\n"
            "# HELP quillmoor_temperature_celsius Temperature per hardware sensor.\n"
            "# TYPE quillmoor_temperature_celsius gauge\n"
            "# UNIT quillmoor_temperature_celsius celsius\n"
            "quillmoor_temperature_celsius{chip=\"hwmon1\",label=\"say \\\"hi\\\"\\\\now\\nnext\"} 41.5\n"
            "# HELP quillmoor_build The Quillmoor version exporting these figures.\n"
            "# TYPE quillmoor_build info\n"
            "quillmoor_build_info{version=\"1.2.3\"} 1\n"
            "# EOF\n";
        QCOMPARE(MetricsFormatter::openMetrics(sample()), expected);
    }

    void jsonCarriesTheSameFigures()
    {
        const QJsonObject metrics = QJsonDocument::fromJson(MetricsFormatter::json(sample())).object().value("metrics").toObject();
        const QStringList keys = metrics.keys();
        QCOMPARE(QSet<QString>(keys.begin(), keys.end()),
                 (QSet<QString>{"quillmoor_cpu_seconds_total", "quillmoor_memory_pressure_ratio",
                                "quillmoor_temperature_celsius", "quillmoor_build_info"}));
        const QJsonArray cpu = metrics.value("quillmoor_cpu_seconds_total").toArray();
        QCOMPARE(cpu.size(), 2);
        QCOMPARE(cpu.at(0).toObject().value("value").toDouble(), 1234.5);
        QCOMPARE(cpu.at(1).toObject().value("labels").toObject().value("mode").toString(), QString("idle"));
        // Escaping is the text formats' business: JSON carries the label as it is.
        QCOMPARE(metrics.value("quillmoor_temperature_celsius").toArray().at(0).toObject().value("labels").toObject()
                     .value("label").toString(),
                 QString("say \"hi\"\\now\nnext"));
    }

    void numbersAndHelpText()
    {
        QCOMPARE(MetricsFormatter::number(0), QByteArray("0"));
        QCOMPARE(MetricsFormatter::number(-3), QByteArray("-3"));
        // Byte counters beyond 32 bits stay exact, not in exponent form.
        QCOMPARE(MetricsFormatter::number(1099511627776.0), QByteArray("1099511627776"));
        QCOMPARE(MetricsFormatter::number(0.1), QByteArray("0.1"));
        QCOMPARE(MetricsFormatter::number(std::numeric_limits<double>::quiet_NaN()), QByteArray("NaN"));
        QCOMPARE(MetricsFormatter::number(std::numeric_limits<double>::infinity()), QByteArray("+Inf"));
        QCOMPARE(MetricsFormatter::number(-std::numeric_limits<double>::infinity()), QByteArray("-Inf"));
        // The classic format leaves quotes in HELP alone; OpenMetrics escapes them.
        QCOMPARE(MetricsFormatter::escapeHelp("a \"b\"\\\nc", false), QByteArray("a \"b\"\\\\\\nc"));
        QCOMPARE(MetricsFormatter::escapeHelp("a \"b\"", true), QByteArray("a \\\"b\\\""));
        // Non-ASCII label values go out as UTF-8.
        QCOMPARE(MetricsFormatter::escapeLabelValue(QString::fromUtf8("caf\u00e9")), QByteArray("caf\xc3\xa9"));
    }

    void acceptHeaderPicksTheFormat_data()
    {
        QTest::addColumn<QByteArray>("accept");
        QTest::addColumn<bool>("openMetrics");
        QTest::newRow("none") << QByteArray() << false;
        QTest::newRow("plain") << QByteArray("text/plain") << false;
        QTest::newRow("prometheus 2.42") << QByteArray("application/openmetrics-text;version=1.0.0,application/openmetrics-text;"
                                                        "version=0.0.1;q=0.75,text/plain;version=0.0.4;q=0.5,*/*;q=0.1")
                                         << true;
        QTest::newRow("later in list") << QByteArray("text/plain;q=0.9, Application/OpenMetrics-Text; version=1.0.0") << true;
        QTest::newRow("refused") << QByteArray("application/openmetrics-text;q=0, text/plain") << false;
    }

    void acceptHeaderPicksTheFormat()
    {
        QFETCH(QByteArray, accept);
        QFETCH(bool, openMetrics);
        QCOMPARE(MetricsFormatter::formatFor(accept) == MetricsFormatter::Format::OpenMetrics, openMetrics);
    }

    void catalogFollowsNamingPractice()
    {
        static const QRegularExpression valid(QStringLiteral("^quillmoor_[a-z][a-z0-9_]*$"));
        QSet<QString> names;
        for (const MetricDefinition &d : MetricCatalog::all()) {
            QVERIFY2(valid.match(d.name).hasMatch(), qPrintable(d.name));
            QVERIFY2(!names.contains(d.name), qPrintable(d.name));
            names.insert(d.name);
            QVERIFY2(!d.help.isEmpty() && !d.source.isEmpty(), qPrintable(d.name));
            // The suffixes are the formatter's to add.
            QVERIFY2(!d.name.endsWith(QLatin1String("_total")) && !d.name.endsWith(QLatin1String("_info")), qPrintable(d.name));
            // OpenMetrics requires a family with a unit to end in it.
            if (!d.unit.isEmpty())
                QVERIFY2(d.name.endsWith(QLatin1Char('_') + d.unit), qPrintable(d.name));
        }
    }
};

QTEST_GUILESS_MAIN(TestMetricsFormatter)
#include "tst_MetricsFormatter.moc"
