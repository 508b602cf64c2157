#include "EpollEventDispatcher.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <algorithm>

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {
constexpr int kRoundEvents = 64;
// The dispatcher's own entries (its wake-up descriptor, socket notifiers) carry their
// descriptor with the low bit set; watchers carry their pointer, whose low bit is clear.
std::uint64_t ownTag(int fd)
{
    return (std::uint64_t(unsigned(fd)) << 1) | 1u;
}
}

EpollEventDispatcher::EpollEventDispatcher(QObject *parent)
    : QAbstractEventDispatcher(parent)
    , m_epoll(::epoll_create1(EPOLL_CLOEXEC))
    , m_wake(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC))
{
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.u64 = ownTag(m_wake);
    ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_wake, &event);
}

EpollEventDispatcher::~EpollEventDispatcher()
{
    ::close(m_wake);
    ::close(m_epoll);
}

void EpollEventDispatcher::updateWatch(int fd)
{
    const auto found = m_notifiers.find(fd);
    if (found == m_notifiers.end()) {
        ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, fd, nullptr);
        return;
    }
    const Notifiers &n = found->second;
    if (!n.read && !n.write && !n.exception) {
        ::epoll_ctl(m_epoll, EPOLL_CTL_DEL, fd, nullptr);
        m_notifiers.erase(found);
        return;
    }
    epoll_event event{};
    event.events = (n.read ? EPOLLIN : 0u) | (n.write ? EPOLLOUT : 0u) | (n.exception ? EPOLLPRI : 0u);
    event.data.u64 = ownTag(fd);
    if (::epoll_ctl(m_epoll, EPOLL_CTL_MOD, fd, &event) != 0)
        ::epoll_ctl(m_epoll, EPOLL_CTL_ADD, fd, &event);
}

void EpollEventDispatcher::registerSocketNotifier(QSocketNotifier *notifier)
{
    Notifiers &n = m_notifiers[int(notifier->socket())];
    switch (notifier->type()) {
    case QSocketNotifier::Read:
        n.read = notifier;
        break;
    case QSocketNotifier::Write:
        n.write = notifier;
        break;
    case QSocketNotifier::Exception:
        n.exception = notifier;
        break;
    }
    updateWatch(int(notifier->socket()));
}

void EpollEventDispatcher::unregisterSocketNotifier(QSocketNotifier *notifier)
{
    const auto found = m_notifiers.find(int(notifier->socket()));
    if (found == m_notifiers.end())
        return;
    Notifiers &n = found->second;
    for (QSocketNotifier **slot : {&n.read, &n.write, &n.exception})
        if (*slot == notifier)
            *slot = nullptr;
    updateWatch(int(notifier->socket()));
}

void EpollEventDispatcher::registerTimer(int timerId, qint64 interval, Qt::TimerType timerType, QObject *object)
{
    m_timers.push_back({timerId, interval, timerType, object, Clock::now() + std::chrono::milliseconds(interval)});
}

bool EpollEventDispatcher::unregisterTimer(int timerId)
{
    const auto found = std::find_if(m_timers.begin(), m_timers.end(), [&](const Timer &t) { return t.id == timerId; });
    if (found == m_timers.end())
        return false;
    m_timers.erase(found);
    return true;
}

bool EpollEventDispatcher::unregisterTimers(QObject *object)
{
    const auto before = m_timers.size();
    m_timers.erase(std::remove_if(m_timers.begin(), m_timers.end(), [&](const Timer &t) { return t.object == object; }),
                   m_timers.end());
    return m_timers.size() != before;
}

QList<QAbstractEventDispatcher::TimerInfo> EpollEventDispatcher::registeredTimers(QObject *object) const
{
    QList<TimerInfo> timers;
    for (const Timer &t : m_timers)
        if (t.object == object)
            timers.append(TimerInfo(t.id, int(t.interval), t.type));
    return timers;
}

int EpollEventDispatcher::remainingTime(int timerId)
{
    for (const Timer &t : m_timers)
        if (t.id == timerId)
            return int(std::max<qint64>(
                0, std::chrono::duration_cast<std::chrono::milliseconds>(t.due - Clock::now()).count()));
    return -1;
}

void EpollEventDispatcher::wakeUp()
{
    // May be called from any thread.
    const std::uint64_t one = 1;
    (void)!::write(m_wake, &one, sizeof one);
}

void EpollEventDispatcher::interrupt()
{
    m_interrupted = true;
    wakeUp();
}

int EpollEventDispatcher::waitMs() const
{
    if (m_timers.empty())
        return -1;
    Clock::time_point next = Clock::time_point::max();
    for (const Timer &t : m_timers)
        next = std::min(next, t.due);
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(next - Clock::now()).count();
    return int(std::clamp<qint64>(wait, 0, 24 * 3600 * 1000));
}

bool EpollEventDispatcher::fireTimers()
{
    const Clock::time_point now = Clock::now();
    std::vector<int> due;
    for (Timer &t : m_timers) {
        if (t.due > now)
            continue;
        due.push_back(t.id);
        // Behind by more than a period: skip the missed ones rather than firing in a burst.
        t.due += std::chrono::milliseconds(t.interval);
        if (t.due <= now)
            t.due = now + std::chrono::milliseconds(t.interval);
    }
    for (int id : due) {
        // A timer fired earlier in this pass may have stopped this one or its object.
        const auto found = std::find_if(m_timers.begin(), m_timers.end(), [&](const Timer &t) { return t.id == id; });
        if (found == m_timers.end())
            continue;
        QTimerEvent event(id);
        QCoreApplication::sendEvent(found->object, &event);
    }
    return !due.empty();
}

bool EpollEventDispatcher::processEvents(QEventLoop::ProcessEventsFlags flags)
{
    m_interrupted = false;
    Q_EMIT awake();
    QCoreApplication::sendPostedEvents();
    const bool canWait = (flags & QEventLoop::WaitForMoreEvents) && !m_interrupted;
    if (canWait)
        Q_EMIT aboutToBlock();
    epoll_event events[kRoundEvents];
    const int count = ::epoll_wait(m_epoll, events, kRoundEvents, canWait ? waitMs() : 0);
    if (canWait)
        Q_EMIT awake();
    bool handled = false;
    for (int i = 0; i < count; ++i) {
        if (!(events[i].data.u64 & 1u)) {
            static_cast<Watcher *>(events[i].data.ptr)->ready(events[i].events);
            handled = true;
            continue;
        }
        const int fd = int(events[i].data.u64 >> 1);
        if (fd == m_wake) {
            std::uint64_t value = 0;
            (void)!::read(m_wake, &value, sizeof value);
            continue;
        }
        if (flags & QEventLoop::ExcludeSocketNotifiers)
            continue;
        // Looked up again for each kind: a notifier's slot may have removed another.
        const std::uint32_t ready = events[i].events;
        const auto notify = [&](QSocketNotifier *Notifiers::*kind, bool when) {
            const auto found = m_notifiers.find(fd);
            if (!when || found == m_notifiers.end() || !(found->second.*kind))
                return;
            QEvent activation(QEvent::SockAct);
            QCoreApplication::sendEvent(found->second.*kind, &activation);
            handled = true;
        };
        notify(&Notifiers::read, ready & (EPOLLIN | EPOLLHUP | EPOLLERR));
        notify(&Notifiers::write, ready & (EPOLLOUT | EPOLLHUP | EPOLLERR));
        notify(&Notifiers::exception, ready & EPOLLPRI);
    }
    if (m_afterRound)
        m_afterRound();
    if (!(flags & QEventLoop::X11ExcludeTimers))
        handled = fireTimers() || handled;
    QCoreApplication::sendPostedEvents();
    return handled;
}
