#include "ModelFit.h"

#include <algorithm>

FitBudget ModelFit::budget(const FreeMemory &free, const QList<LocalAIModel> &loaded)
{
    qint64 gpuRelease = 0, ramRelease = 0;
    for (const LocalAIModel &model : loaded) {
        const qint64 size = std::max<qint64>(model.size, 0);
        const qint64 inGpu = std::clamp<qint64>(model.sizeVram, 0, size);
        gpuRelease += inGpu;
        ramRelease += size - inGpu;
    }
    FitBudget budget;
    // Capped: the loaded models may sit on a GPU other than the one the driver figures are
    // for, and weights mapped from their files may already count as available.
    if (free.gpuFree) {
        const qint64 total = free.gpuTotal.value_or(*free.gpuFree);
        budget.gpu = std::clamp<qint64>(*free.gpuFree + gpuRelease, 0, std::max<qint64>(total, 0));
    }
    budget.ram = std::clamp<qint64>(free.ramAvailable + ramRelease, 0, std::max<qint64>(free.ramTotal, 0));
    return budget;
}

QString ModelFit::verdict(qint64 need, const FitBudget &budget)
{
    if (need <= 0)
        return {};
    const qint64 gpu = budget.gpu && *budget.gpu >= kMinGpuOffer ? *budget.gpu : 0;
    const qint64 ram = budget.ram;
    if (gpu > 0 && need <= gpu)
        return fitsInGpu();
    // need - ram < gpu is need ≤ gpu + ram without the sum overflowing.
    const bool fitsBoth = gpu > 0 && need - ram <= gpu;
    if (fitsBoth && gpu >= need / kUsefulShareDivisor + (need % kUsefulShareDivisor != 0))
        return splits();
    if (need <= ram)
        return cpuOnly();
    if (fitsBoth)
        return splits();
    return willNotFit();
}
