#include "InstalledModelWatch.h"

#include <algorithm>

InstalledModelWatch::InstalledModelWatch(std::function<QDateTime()> now)
    : m_now(std::move(now))
{
}

QDateTime InstalledModelWatch::now() const
{
    return m_now ? m_now() : QDateTime::currentDateTimeUtc();
}

bool InstalledModelWatch::due() const
{
    if (m_reading)
        return false;
    return m_requested || !m_lastRead.isValid() || m_lastRead.secsTo(now()) >= kRefreshSecs;
}

void InstalledModelWatch::started()
{
    m_reading = true;
    m_requested = false;
}

void InstalledModelWatch::finished()
{
    // A failed read waits its turn like a good one: a server that errs is not asked again
    // every pass.
    m_reading = false;
    m_lastRead = now();
}

void InstalledModelWatch::noticeStatus(bool wasOffline, bool isOffline)
{
    if (wasOffline && !isOffline)
        request();
}

void InstalledModelWatch::noticeStoreFiles(QStringList paths)
{
    paths.sort();
    if (m_storeFiles && *m_storeFiles != paths)
        request();
    m_storeFiles = std::move(paths);
}

InstalledModelWatch::Changes InstalledModelWatch::setListing(const QList<InstalledModel> &rows)
{
    m_listing = rows;
    return judge();
}

InstalledModelWatch::Changes InstalledModelWatch::setLoaded(const QList<LocalAIModel> &loaded)
{
    // A model loaded that the listing lacks was pulled since (or run by name from a pull).
    if (!m_reading && m_lastRead.isValid())
        for (const LocalAIModel &model : loaded)
            if (std::none_of(m_listing.begin(), m_listing.end(), [&](const InstalledModel &row) { return row.name == model.name; }))
                request();
    m_loaded = loaded;
    return judge();
}

InstalledModelWatch::Changes InstalledModelWatch::setMemory(const std::optional<FreeMemory> &memory)
{
    m_memory = memory;
    return judge();
}

InstalledModelWatch::Changes InstalledModelWatch::judge()
{
    std::optional<FitBudget> budget;
    if (m_memory)
        budget = ModelFit::budget(*m_memory, m_loaded);
    QList<InstalledModel> rows = m_listing;
    for (InstalledModel &row : rows) {
        row.loaded = std::any_of(m_loaded.begin(), m_loaded.end(), [&](const LocalAIModel &m) { return m.name == row.name; });
        row.fit = budget && !row.remote ? ModelFit::verdict(row.size, *budget) : QString();
    }
    Changes changes;
    changes.rows = rows != m_rows;
    changes.budget = budget != m_budget;
    m_rows = std::move(rows);
    m_budget = budget;
    return changes;
}
