#pragma once

#include <QProcess>
#include <QString>

// A dbus-daemon of the test's own, so fake services never touch the real session or
// system bus. Stopped when it goes out of scope.
class PrivateBus
{
public:
    ~PrivateBus() { stop(); }

    // Starts the daemon; false (with the reason in error()) when it cannot.
    bool start()
    {
        m_process.start(QStringLiteral("dbus-daemon"),
                        {QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address")});
        if (!m_process.waitForStarted()) {
            m_error = QStringLiteral("dbus-daemon is needed for this test");
            return false;
        }
        if (!m_process.waitForReadyRead(5000)) {
            m_error = QStringLiteral("dbus-daemon printed no address");
            return false;
        }
        m_address = QString::fromUtf8(m_process.readLine()).trimmed();
        return !m_address.isEmpty();
    }
    void stop()
    {
        if (m_process.state() == QProcess::NotRunning)
            return;
        m_process.kill();
        m_process.waitForFinished();
    }

    QString address() const { return m_address; }
    QString error() const { return m_error; }

private:
    QProcess m_process;
    QString m_address;
    QString m_error;
};
