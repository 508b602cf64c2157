#include "EpollLoop.h"

#include <QAbstractEventDispatcher>
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
{
}

EpollLoop::~EpollLoop()
{
    if (m_shared) {
        m_shared->setAfterRound(nullptr);
    } else if (m_epoll >= 0) {
        delete m_notifier;
        ::close(m_epoll);
    }
}

void EpollLoop::settle()
{
    // Decided on first use, on the thread the loop serves: it is often made elsewhere and
    // moved there.
    m_settled = true;
    m_shared = qobject_cast<EpollEventDispatcher *>(QAbstractEventDispatcher::instance());
    if (m_shared) {
        m_epoll = m_shared->epollFd();
        m_shared->setAfterRound([this] {
            if (m_afterRound)
                m_afterRound();
        });
        return;
    }
    m_epoll = ::epoll_create1(EPOLL_CLOEXEC);
    if (m_epoll < 0)
        return;
    m_notifier = new QSocketNotifier(m_epoll, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &EpollLoop::dispatch);
}

bool EpollLoop::add(int fd, std::uint32_t events, Watcher *watcher)
{
    if (!m_settled)
        settle();
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
    if (m_epoll < 0)
        return;
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
