#pragma once

#include "PerformancePreset.h"

#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <QObject>
#include <QVariantList>
#include <QStringList>

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class PowerProfilesClient;
class SleepInhibitor;

// Where the preset engine reaches the machine. Everything beyond the file system is off
// unless set, so an engine built for a test touches nothing: forThisMachine() sets it.
struct PresetSources
{
    std::optional<QDBusConnection> loginBus;          // systemd-logind (idle-sleep inhibitors)
    std::optional<QDBusConnection> powerProfilesBus;  // power-profiles-daemon
    std::string sysRoot = "/sys";
    std::string procRoot = "/proc";
    // The memory purge of Inference Max and Creative Max; unset, none.
    std::function<void()> purgeMemory;
    // Terminal emulators: where they are looked up (unset: PATH) and the $TERMINAL choice
    // (unset: the environment's).
    std::optional<QStringList> terminalSearchPath;
    std::optional<QString> preferredTerminal;
    // The user whose processes count as running AI tools; unset, this process's user.
    std::optional<unsigned> uid;

    static PresetSources forThisMachine();
};

// Applies the performance presets: holds or releases the idle-sleep inhibitor, selects a
// power profile, purges memory, opens the terminal advisories and narrates each step in
// currentStatus. Applies run one after another in the order they were asked for.
class PresetManager : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString activePreset READ activePresetName NOTIFY activePresetChanged)
    Q_PROPERTY(bool isExecuting READ isExecuting NOTIFY isExecutingChanged)
    Q_PROPERTY(QString currentStatus READ currentStatus NOTIFY currentStatusChanged)
    Q_PROPERTY(QString batteryStatus READ batteryStatus NOTIFY batteryStatusChanged)
    // Every preset in order.
    Q_PROPERTY(QList<PerformancePreset> allPresets READ allPresets CONSTANT)

public:
    explicit PresetManager(PresetSources sources = {}, QObject *parent = nullptr);
    ~PresetManager() override;

    static PresetManager &shared();

    PerformancePreset activePreset() const { return m_activePreset; }
    QString activePresetName() const { return m_activePreset.rawValue(); }
    bool isExecuting() const { return m_isExecuting; }
    QString currentStatus() const { return m_currentStatus; }
    QString batteryStatus() const { return m_batteryStatus; }

    static const QList<PerformancePreset> &allPresets() { return PerformancePreset::allCases(); }

    void applyPreset(PerformancePreset preset);
    Q_INVOKABLE void applyPreset(const QString &rawValue);
    void updateBatteryStatus();

    // The inhibitor's descriptor number while one is held, else 0.
    quint32 sleepAssertionID() const { return m_sleepAssertionID; }

    // Keywords of the AI tools this user runs, in keyword order.
    QStringList detectRunningAIProcessNames() const;
    static QStringList matchAIKeywords(const QStringList &lowerCaseNames);

    // The seven advisory lines and the shell text that prints them.
    static QStringList developerAdvisoryLines();
    static QStringList creativeAdvisoryLines();
    static QStringList gamerAdvisoryLines();
    static QStringList ecoDevAdvisoryLines(const QStringList &names);
    static QString shellText(const QStringList &lines);
    static QString ecoDevShellText(const QStringList &names);
    static const QString kDeveloperPattern;
    static const QString kCreativePattern;
    static const QString kGamerPattern;

    void openDeveloperAdvisory();
    void openCreativeAdvisory();
    void openGamerAdvisory();
    void openTerminalAdvisory(const QStringList &names);

Q_SIGNALS:
    void activePresetChanged();
    void isExecutingChanged();
    void currentStatusChanged();
    void batteryStatusChanged();
    // No terminal emulator could be started: the screens show the lines instead.
    void advisoryNeedsWindow(const QStringList &lines);
    // One apply has finished its steps.
    void presetApplied(const QString &preset);

private:
    using Next = std::function<void()>;
    void runNext();
    void finishApply();
    void setStatus(const QString &status);
    void releaseAssertion();
    void takeAssertion(const QString &name, std::function<void(bool)> done);
    void selectProfile(const QString &profile);
    void restoreProfile();
    void openAdvisory(const QStringList &lines, const QString &shell);

    void applyInferenceMax(Next next);
    void applyLocalTraining(Next next);
    void applyCompileMax(Next next);
    void applyCreativeMax(Next next);
    void applyGameMode(Next next);
    void applyEcoDev(Next next);
    void applyVanillaMac(Next next);

    PresetSources m_sources;
    std::unique_ptr<SleepInhibitor> m_inhibitor;
    std::unique_ptr<PowerProfilesClient> m_profiles;
    QString m_profileBeforePresets;   // empty until a preset first changes the profile

    std::deque<PerformancePreset> m_queue;
    PerformancePreset m_activePreset = PerformancePreset::VanillaMac;
    bool m_isExecuting = false;
    QString m_currentStatus = QStringLiteral("Idle");
    QString m_batteryStatus = QStringLiteral("Unknown");
    QDBusUnixFileDescriptor m_heldAssertion;
    quint32 m_sleepAssertionID = 0;
    unsigned m_assertionGeneration = 0;   // bumps on release, so a late grant is dropped
};
