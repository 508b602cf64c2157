#pragma once

#include "platform/CommandRunner.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// The four telemetry figures the co-pilot reads, at the moment it answers.
struct CopilotTelemetry
{
    double cpuUsage = 0;          // percent
    double memoryPressure = 0;    // percent
    double socTemperature = 0;    // °C
    int batteryPercentage = 0;
};

struct AIServiceSources
{
    std::optional<QStringList> searchPath;          // where whatis is looked up; unset: PATH
    std::function<CopilotTelemetry()> telemetry;    // unset: all zero
    // The pauses that let the screens show a thinking state.
    int explainDelayMs = 500;
    int reportDelayMs = 1000;
    int chatDelayMs = 800;
};

// The local co-pilot: a rule engine over live telemetry and process names. It explains a
// process (the manual index first, then a table), writes a health report, predicts thermal
// trouble and answers a typed question from its words. No model and no network.
class AIService : public QObject
{
    Q_OBJECT

public:
    enum class Topic { Thermal, Battery, Memory, Network, General };
    using Answer = std::function<void(const QString &)>;

    static constexpr int kWhatisTimeoutMs = 3000;

    explicit AIService(AIServiceSources sources = {}, QObject *parent = nullptr);
    static AIService &shared();

    // Each answers through `done` after its pause; the QML forms emit a signal instead.
    void explainProcess(const QString &name, Answer done);
    Q_INVOKABLE void explainProcess(const QString &name);
    // `cpu` is accepted and not used. A `battery` of kNoBattery says the machine has none,
    // which the report says instead of calling an absent battery empty.
    static constexpr int kNoBattery = -1;
    void generateHealthReport(double cpu, double temp, double memory, int battery, Answer done);
    Q_INVOKABLE void generateHealthReport(double cpu, double temp, double memory, int battery);
    Q_INVOKABLE static QString predictThermalState(double currentTemp, double cpuUsage);
    // The telemetry is read when the answer is built, after the pause.
    void chatWithSystem(const QString &query, Answer done);
    Q_INVOKABLE void chatWithSystem(const QString &query);

    // The pieces, without pauses.
    static QStringList tokens(const QString &query);
    static Topic topicFor(const QString &query);
    static QString answerFor(Topic topic, const CopilotTelemetry &stats);
    static QString healthReport(double temp, double memory, int battery);
    static std::optional<QString> knownProcess(const QString &lowerName);
    // The manual index's reply made an answer, or nothing when it knows nothing.
    static std::optional<QString> explanationFromWhatis(const QByteArray &output);
    static QString defaultExplanation(const QString &name);

Q_SIGNALS:
    void processExplained(const QString &name, const QString &explanation);
    void healthReportReady(const QString &report);
    void chatAnswered(const QString &query, const QString &answer);

private:
    AIServiceSources m_sources;
    CommandRunner m_runner;
};
