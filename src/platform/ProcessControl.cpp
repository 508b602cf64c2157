#include "ProcessControl.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/resource.h>
#include <unistd.h>

int ProcessControl::sendSignal(int pid, int signal)
{
    // kill(2) treats 0 and negative ids as process groups; never let those through.
    if (pid <= 0)
        return ESRCH;
    return ::kill(pid, signal) == 0 ? 0 : errno;
}

int ProcessControl::stop(int pid)
{
    return sendSignal(pid, SIGSTOP);
}

int ProcessControl::resume(int pid)
{
    return sendSignal(pid, SIGCONT);
}

bool ProcessControl::isReachable(int pid)
{
    return sendSignal(pid, 0) == 0;
}

int ProcessControl::setNice(int pid, int nice)
{
    if (pid <= 0)
        return ESRCH;
    return ::setpriority(PRIO_PROCESS, static_cast<id_t>(pid), nice) == 0 ? 0 : errno;
}

int ProcessControl::ownPid()
{
    return static_cast<int>(::getpid());
}

std::string ProcessControl::errorText(int error)
{
    return std::strerror(error);
}
