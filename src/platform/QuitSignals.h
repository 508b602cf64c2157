#pragma once

#include <QObject>

class QSocketNotifier;

// SIGTERM, SIGINT and SIGHUP turned into a quit through the event loop, so a logout, a
// `systemctl --user stop` or Ctrl+C end the program the way its Quit does: windows close,
// settings are written, workers are joined. The handler itself only writes a byte to a
// pipe, the one thing a signal handler may safely do; the loop reads it and quits.
class QuitSignals : public QObject
{
    Q_OBJECT

public:
    explicit QuitSignals(QObject *parent = nullptr);
    ~QuitSignals() override;

    // The signal that arrived last, 0 before any.
    int received() const { return m_received; }

Q_SIGNALS:
    void quitRequested(int signal);

private:
    void drain();

    QSocketNotifier *m_notifier = nullptr;
    int m_received = 0;
};
