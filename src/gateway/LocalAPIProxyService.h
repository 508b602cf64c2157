#pragma once

#include "ModelThroughput.h"
#include "RelayedConnection.h"

#include <QObject>
#include <QString>
#include <QThread>

class ProxyRelay;

// A relay local AI clients can use instead of the Ollama port: it shows which model each
// request names and counts the requests (every one on a kept-alive connection too), keeps
// per model the tokens and times Ollama reports at the end of each generation,
// passes every byte through unchanged, and answers with a JSON 503 when Ollama cannot be
// reached. Sockets live on a thread of their own; the published fields change on the GUI
// thread only.
class LocalAPIProxyService : public QObject
{
    Q_OBJECT
    Q_PROPERTY(bool isRunning READ isRunning NOTIFY isRunningChanged)
    Q_PROPERTY(int requestCount READ requestCount NOTIFY requestCountChanged)
    Q_PROPERTY(QString lastRoutedModel READ lastRoutedModel NOTIFY lastRoutedModelChanged)
    Q_PROPERTY(QList<ModelThroughput> modelThroughput READ modelThroughput NOTIFY modelThroughputChanged)

public:
    static constexpr quint16 kScreenPort = 11430;
    static constexpr qsizetype kMaxModels = 64;
    // The row that gathers the models seen after kMaxModels others.
    static QString otherModels() { return QStringLiteral("Other models"); }

    explicit LocalAPIProxyService(RelayTarget upstream = {}, QObject *parent = nullptr);
    ~LocalAPIProxyService() override;

    static LocalAPIProxyService &shared();

    // Opens the listener unless it is open or opening; isRunning turns true once it is.
    // Port 0 lets the system pick one (see listeningPort()).
    Q_INVOKABLE void startProxy(int port);
    // Closes the listener; connections being relayed are not cut.
    Q_INVOKABLE void stopProxy();

    bool isRunning() const { return m_isRunning; }
    int requestCount() const { return m_requestCount; }
    QString lastRoutedModel() const { return m_lastRoutedModel; }
    // Since the app started, in the order the models were first seen; kept across stops.
    QList<ModelThroughput> modelThroughput() const { return m_modelThroughput; }
    quint16 listeningPort() const { return m_isRunning ? m_port : 0; }

    // Connections open on the proxy thread, for tests; waits for that thread.
    int openConnections() const;

Q_SIGNALS:
    void isRunningChanged();
    void requestCountChanged();
    void lastRoutedModelChanged();
    void modelThroughputChanged();
    void logged(const QString &line);

private:
    void log(const QString &line);
    void setRunning(bool running);
    void setLastRoutedModel(const QString &model);

    RelayTarget m_upstream;
    QThread m_thread;
    ProxyRelay *m_relay = nullptr;   // lives on m_thread
    bool m_isRunning = false;
    bool m_starting = false;
    int m_attempt = 0;               // which start a report from the relay answers
    quint16 m_port = 0;
    int m_requestCount = 0;
    QString m_lastRoutedModel = QStringLiteral("None");
    QList<ModelThroughput> m_modelThroughput;
};
