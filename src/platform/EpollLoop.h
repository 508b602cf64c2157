#pragma once

#include "EpollEventDispatcher.h"

#include <QObject>

#include <cstdint>
#include <functional>

class QSocketNotifier;

// Readiness of many descriptors through one epoll set, driven by the owning thread's Qt
// event loop: starting, changing or stopping the watch of a descriptor is one epoll_ctl
// and never a trip through the event dispatcher. On a thread run by EpollEventDispatcher
// the watchers join the dispatcher's own set, so a turn of the loop is one epoll_wait;
// elsewhere a single notifier watches a set of the loop's own. Level-triggered, so a
// watcher may leave work for the next round. Used from one thread, the one it lives on.
class EpollLoop : public QObject
{
    Q_OBJECT

public:
    // Same values as EPOLLIN, EPOLLOUT, EPOLLERR and EPOLLHUP.
    static constexpr std::uint32_t kReadable = 0x001;
    static constexpr std::uint32_t kWritable = 0x004;
    static constexpr std::uint32_t kError = 0x008;
    static constexpr std::uint32_t kHangup = 0x010;

    using Watcher = EpollEventDispatcher::Watcher;

    explicit EpollLoop(QObject *parent = nullptr);
    ~EpollLoop() override;

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
    void settle();

    bool m_settled = false;
    EpollEventDispatcher *m_shared = nullptr;
    int m_epoll = -1;
    QSocketNotifier *m_notifier = nullptr;
    std::function<void()> m_afterRound;
};
