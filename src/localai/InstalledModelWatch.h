#pragma once

#include "InstalledModel.h"
#include "LocalAIModel.h"
#include "ModelFit.h"

#include <QDateTime>
#include <QList>
#include <QStringList>

#include <functional>
#include <optional>

// The models the server has installed, with a fit verdict each, and when to read them
// again. The installed set changes rarely, so it is read at a gentle pace: at first, every
// kRefreshSecs after, and at once when something says it changed (the server came up, a
// model it lists as loaded is not among them, the model store's files changed). The
// verdicts follow the listing, the loaded models and the memory figures, whichever moves.
class InstalledModelWatch
{
public:
    static constexpr qint64 kRefreshSecs = 45;

    // What a change touched: the rows (their verdicts included), the budget they were
    // judged against.
    struct Changes
    {
        bool rows = false;
        bool budget = false;
    };

    // `now`: unset, the clock.
    explicit InstalledModelWatch(std::function<QDateTime()> now = {});

    // Whether a read should start: one was asked for or never made, or the last one is
    // kRefreshSecs old; never while one is under way.
    bool due() const;
    void request() { m_requested = true; }
    void started();
    void finished();
    bool reading() const { return m_reading; }

    // Hints that the installed set changed.
    void noticeStatus(bool wasOffline, bool isOffline);
    // The Ollama blob files the cache scan found; a change from the last scan is a pull
    // or a deletion.
    void noticeStoreFiles(QStringList paths);

    Changes setListing(const QList<InstalledModel> &rows);
    // The loaded models: their names mark the rows, their sizes go into the budget.
    Changes setLoaded(const QList<LocalAIModel> &loaded);
    // Null: no memory figures, and no verdicts.
    Changes setMemory(const std::optional<FreeMemory> &memory);

    const QList<InstalledModel> &rows() const { return m_rows; }
    const std::optional<FitBudget> &budget() const { return m_budget; }

private:
    QDateTime now() const;
    Changes judge();

    std::function<QDateTime()> m_now;
    bool m_requested = true;
    bool m_reading = false;
    QDateTime m_lastRead;
    std::optional<QStringList> m_storeFiles;

    QList<InstalledModel> m_listing;
    QList<LocalAIModel> m_loaded;
    std::optional<FreeMemory> m_memory;
    QList<InstalledModel> m_rows;
    std::optional<FitBudget> m_budget;
};
