#pragma once

// One-shot system actions, fire and forget: nothing is waited for and failures are not
// reported back to the caller.
class QuickActionsService
{
public:
    // Drops the kernel's clean caches and compacts memory (asks for administrator rights).
    static void purgeRAM();
    // Clears systemd-resolved's DNS cache.
    static void flushDNS();
    // SIGSTOP / SIGCONT.
    static void suspendProcess(int pid);
    static void resumeProcess(int pid);
};
