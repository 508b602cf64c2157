#include "QuickActionsService.h"

#include "platform/DnsResolverControl.h"
#include "platform/MemoryPurger.h"
#include "platform/ProcessControl.h"

void QuickActionsService::purgeRAM()
{
    auto *purger = new MemoryPurger;
    QObject::connect(purger, &MemoryPurger::finished, purger, &QObject::deleteLater);
    purger->start();
}

void QuickActionsService::flushDNS()
{
    DnsResolverControl().flushCaches();
}

void QuickActionsService::suspendProcess(int pid)
{
    ProcessControl::stop(pid);
}

void QuickActionsService::resumeProcess(int pid)
{
    ProcessControl::resume(pid);
}
