#pragma once

#include "LocalAIModel.h"

#include <QList>
#include <QString>

#include <optional>

// The memory free on this machine now, in bytes, as the kernel and the GPU's driver report
// it. The GPU's figures are null without a GPU or where its driver gives none: the verdicts
// then judge by system memory alone.
struct FreeMemory
{
    std::optional<qint64> gpuFree;    // the driver's total less its used
    std::optional<qint64> gpuTotal;
    qint64 ramAvailable = 0;          // MemAvailable
    qint64 ramTotal = 0;              // MemTotal
    bool operator==(const FreeMemory &) const = default;
};

// What a model may take: what is free, plus what the loaded models would give back if
// they were ejected, each side capped at its total.
struct FitBudget
{
    std::optional<qint64> gpu;   // null: no GPU memory figures
    qint64 ram = 0;
    bool operator==(const FitBudget &) const = default;
};

// Where a model would run if loaded now, judged from the size of its files. The size is
// the need: the weights are most of what a model takes, but the context adds to it (the
// key-value cache grows with it), so the verdict is an estimate and says so on screen.
//
// The budget counts the loaded models as gone: Ollama unloads idle models to make room for
// the one asked for, so their memory is the new one's to take. A loaded model's size_vram
// goes back to the GPU and the rest of its size to system memory. A model judged while it
// is itself loaded counts its own memory that way too: it is already in memory, so it
// fits where it sits now (its loaded size includes its context).
//
// The rules, with G the GPU budget and R the system memory budget:
// - the GPU offers memory only with a driver figure and at least kMinGpuOffer of it: below
//   that Ollama's compute buffers leave no room for layers, and it loads none there;
// - need ≤ G: "Fits in GPU";
// - need ≤ G + R and the GPU could take at least a tenth of it: "Splits GPU/CPU";
// - need ≤ R: "CPU only" (no GPU to offer, or one that would take less than a tenth,
//   which leaves the speed the CPU's whatever is offloaded);
// - need ≤ G + R still: "Splits GPU/CPU", there being no other way to hold it;
// - more than everything: "Will not fit".
class ModelFit
{
public:
    static constexpr qint64 kMinGpuOffer = 512LL * 1024 * 1024;
    static constexpr int kUsefulShareDivisor = 10;   // a tenth of the model

    static QString fitsInGpu() { return QStringLiteral("Fits in GPU"); }
    static QString splits() { return QStringLiteral("Splits GPU/CPU"); }
    static QString cpuOnly() { return QStringLiteral("CPU only"); }
    static QString willNotFit() { return QStringLiteral("Will not fit"); }

    static FitBudget budget(const FreeMemory &free, const QList<LocalAIModel> &loaded);
    // One of the four texts; empty for a need of zero or less, which says nothing.
    static QString verdict(qint64 need, const FitBudget &budget);
};
