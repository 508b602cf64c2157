#pragma once

#include "PortLatencyInfo.h"
#include "localai/LocalPortInfo.h"

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QTimer>
#include <QVariantList>

#include <functional>

// Where the probe takes its ports from. The app reads the local AI workspace scan.
struct LatencySources
{
    std::function<QList<LocalPortInfo>()> ports;   // unset: none
    std::function<bool()> demoMode;                // unset: off
    QHostAddress host = QHostAddress(QHostAddress::LocalHost);
};

// Every two seconds, how long each listening local port takes to accept a connection.
// Probes run one after another on the GUI thread's event loop; none of them blocks it.
class LocalAPILatencyService : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QList<PortLatencyInfo> activePortLatencies READ activePortLatencies NOTIFY activePortLatenciesChanged)

public:
    enum class Polling { Start, Manual };
    using Done = std::function<void()>;

    static constexpr int kIntervalMs = 2000;
    static constexpr int kProbeDeadlineMs = 300;

    explicit LocalAPILatencyService(LatencySources sources = {}, Polling polling = Polling::Start,
                                    QObject *parent = nullptr);
    ~LocalAPILatencyService() override;

    static LocalAPILatencyService &shared();

    void startPolling();
    // One sweep over the current ports; `done` after the list is assigned. Sweeps may
    // overlap: each assigns its own list when it ends.
    void measureLatencies(Done done);
    Q_INVOKABLE void measureLatencies() { measureLatencies(Done{}); }
    // True through `done` when a connection to the port was accepted within the deadline.
    void pingLocalPort(quint16 port, std::function<void(bool)> done);

    QList<PortLatencyInfo> activePortLatencies() const { return m_activePortLatencies; }

    static QList<PortLatencyInfo> sampleLatencies();

Q_SIGNALS:
    void activePortLatenciesChanged();

private:
    struct Sweep;
    void probeNext(const std::shared_ptr<Sweep> &sweep);
    void setActivePortLatencies(const QList<PortLatencyInfo> &rows);

    LatencySources m_sources;
    QTimer m_timer;
    QList<PortLatencyInfo> m_activePortLatencies;
};
