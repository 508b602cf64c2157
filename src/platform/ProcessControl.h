#pragma once

#include <string>

// Job-control signals and scheduling priority, straight through the system calls.
class ProcessControl
{
public:
    // 0 on success, else the errno of kill(2).
    static int sendSignal(int pid, int signal);
    static int stop(int pid);
    static int resume(int pid);

    // Whether a signal could be delivered to the process: the signal-0 probe. A process of
    // another user answers EPERM and so counts as not reachable.
    static bool isReachable(int pid);

    // 0 on success, else the errno of setpriority(2).
    static int setNice(int pid, int nice);

    static int ownPid();

    static std::string errorText(int error);
};
