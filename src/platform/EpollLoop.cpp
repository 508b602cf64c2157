#include "EpollLoop.h"

#include <QSocketNotifier>

#include <sys/epoll.h>
#include <unistd.h>

static_assert(EpollLoop::kReadable == EPOLLIN && EpollLoop::kWritable == EPOLLOUT);
static_assert(EpollLoop::kError == EPOLLERR && EpollLoop::kHangup == EPOLLHUP);

namespace {
constexpr int kRoundEvents = 128;
// Rounds taken in one wake-up before the event loop gets its turn again (timers, posted
// calls); a full round means more is waiting.
constexpr int kRoundsPerWake = 4;
}

EpollLoop::EpollLoop(QObject *parent)
    : QObject(parent)
    , m_epoll(::epoll_create1(EPOLL_CLOEXEC))
{
    if (m_epoll < 0)
        return;
    m_notifier = new QSocketNotifier(m_epoll, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &EpollLoop::dispatch);
}

EpollLoop::~EpollLoop()
{
    if (m_epoll >= 0) {
        delete m_notifier;
        ::close(m_epoll);
    }
}

bool EpollLoop::add(int fd, std::uint32_t events, Watcher *watcher)
{
    epoll_event event{};
    event.events = events;
    event.data.ptr = watcher;
    return ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &event) == 0;
}

bool EpollLoop::modify(int fd, std::uint32_t events, Watcher *watcher)
{
    epoll_event event{};
    event.events = events;
    event.data.ptr = watcher;
    return ::epoll_ctl(m_epoll, EPOLL_CTL_MOD, fd, &event) == 0;
}

void EpollLoop::remove(int fd)
{
    ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, fd, nullptr);
}

void EpollLoop::dispatch()
{
    epoll_event events[kRoundEvents];
    for (int round = 0; round < kRoundsPerWake; ++round) {
        const int count = ::epoll_wait(m_epoll, events, kRoundEvents, 0);
        for (int i = 0; i < count; ++i) {
            auto *watcher = static_cast<Watcher *>(events[i].data.ptr);
            watcher->ready(events[i].events);
        }
        if (m_afterRound)
            m_afterRound();
        if (count < kRoundEvents)
            return;
    }
}
