#pragma once

#include <QObject>

#include <cstdint>
#include <functional>

class QSocketNotifier;

// Readiness of many descriptors through one epoll set, driven by the owning thread's Qt
// event loop: a single notifier watches the set's own descriptor, so starting, changing or
// stopping the watch of a descriptor is one epoll_ctl and never a trip through the event
// dispatcher. Level-triggered, so a watcher may leave work for the next round.
class EpollLoop : public QObject
{
    Q_OBJECT

public:
    // Same values as EPOLLIN, EPOLLOUT, EPOLLERR and EPOLLHUP.
    static constexpr std::uint32_t kReadable = 0x001;
    static constexpr std::uint32_t kWritable = 0x004;
    static constexpr std::uint32_t kError = 0x008;
    static constexpr std::uint32_t kHangup = 0x010;

    class Watcher
    {
    public:
        virtual void ready(std::uint32_t events) = 0;

    protected:
        ~Watcher() = default;
    };

    explicit EpollLoop(QObject *parent = nullptr);
    ~EpollLoop() override;

    bool isValid() const { return m_epoll >= 0; }
    // `events` may be 0: the descriptor stays in the set, reporting errors and hang-ups only.
    bool add(int fd, std::uint32_t events, Watcher *watcher);
    bool modify(int fd, std::uint32_t events, Watcher *watcher);
    // Not needed before closing a descriptor: the kernel drops it from the set itself.
    void remove(int fd);

    // Runs once after each round of events, while nothing of the round is in use any more:
    // the place to free what the round finished and to report what it saw.
    void setAfterRound(std::function<void()> afterRound) { m_afterRound = std::move(afterRound); }

private:
    void dispatch();

    int m_epoll = -1;
    QSocketNotifier *m_notifier = nullptr;
    std::function<void()> m_afterRound;
};
