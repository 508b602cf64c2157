#pragma once

#include <QAbstractEventDispatcher>
#include <QList>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <unordered_map>
#include <vector>

class QSocketNotifier;

// A lean event dispatcher for a thread that mostly waits on sockets: one epoll set, an
// eventfd to be woken, and a short list of timers. Each turn is a single epoll_wait, where
// the default dispatcher runs a whole GLib main-context iteration (prepare, poll, check,
// dispatch); on a relay that turns over thousands of times a second, that is most of
// what it costs. Posted events and deleteLater() work as on any Qt thread.
class EpollEventDispatcher : public QAbstractEventDispatcher
{
    Q_OBJECT

public:
    // Something watched straight from the dispatcher's own epoll set (see EpollLoop).
    class Watcher
    {
    public:
        virtual void ready(std::uint32_t events) = 0;

    protected:
        ~Watcher() = default;
    };

    explicit EpollEventDispatcher(QObject *parent = nullptr);

    // The epoll set, for watchers of this thread to join with their own pointer as the
    // event's data; and what runs after each round of their events.
    int epollFd() const { return m_epoll; }
    void setAfterRound(std::function<void()> afterRound) { m_afterRound = std::move(afterRound); }
    ~EpollEventDispatcher() override;

    bool processEvents(QEventLoop::ProcessEventsFlags flags) override;
    void registerSocketNotifier(QSocketNotifier *notifier) override;
    void unregisterSocketNotifier(QSocketNotifier *notifier) override;
    void registerTimer(int timerId, qint64 interval, Qt::TimerType timerType, QObject *object) override;
    bool unregisterTimer(int timerId) override;
    bool unregisterTimers(QObject *object) override;
    QList<TimerInfo> registeredTimers(QObject *object) const override;
    int remainingTime(int timerId) override;
    void wakeUp() override;
    void interrupt() override;

private:
    using Clock = std::chrono::steady_clock;
    struct Timer
    {
        int id;
        qint64 interval;
        Qt::TimerType type;
        QObject *object;
        Clock::time_point due;
    };
    struct Notifiers
    {
        QSocketNotifier *read = nullptr;
        QSocketNotifier *write = nullptr;
        QSocketNotifier *exception = nullptr;
    };

    void updateWatch(int fd);
    int waitMs() const;
    bool fireTimers();

    int m_epoll = -1;
    int m_wake = -1;
    std::atomic<bool> m_interrupted{false};
    std::unordered_map<int, Notifiers> m_notifiers;
    std::vector<Timer> m_timers;
    std::function<void()> m_afterRound;
};
