#pragma once

#include <QElapsedTimer>
#include <QFutureWatcher>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>

// The Hugging Face libraries' hub folder: its size, walked on a worker at most every 10 s,
// and its purge. While the demonstration switch is on, an empty or absent hub reads as a
// sample figure so the demonstration screens have something to purge.
class HuggingFaceHub
{
public:
    static constexpr double kDemoFigureGB = 34.2;

    struct Sinks
    {
        std::function<void(double shownGB)> measured;                  // a walk has finished
        std::function<void(double freedGB, double shownGB)> purged;    // a purge has finished
    };

    // `homePath`: the user's home folder, where the hub is unless the environment says
    // otherwise.
    HuggingFaceHub(QString homePath, Sinks sinks);
    ~HuggingFaceHub();
    HuggingFaceHub(const HuggingFaceHub &) = delete;
    HuggingFaceHub &operator=(const HuggingFaceHub &) = delete;

    // The tick: a walk when the last is 10 s old.
    void poll();
    // A walk now, unless one or a purge is running.
    void refresh();
    // Deletes the hub's contents on a worker, unless the hub is the home folder or one above
    // it; false when a purge is already running.
    bool purge();
    bool purging() const { return m_purgeWatcher.isRunning(); }

    // Whether the sample figure stands in for an empty hub; returns the figure to show.
    double setShowsDemoFigure(bool shown);

    // $HF_HUB_CACHE, else $HF_HOME/hub, else $XDG_CACHE_HOME/huggingface/hub, else
    // ~/.cache/huggingface/hub.
    QString path() const { return pathFor(m_homePath); }
    // Where the Hugging Face libraries keep their hub under `homePath`, unless the variables
    // above, read through `environment` (unset: this process's), say otherwise. Relative
    // values are ignored, as the libraries' own XDG lookup does.
    static QString pathFor(const QString &homePath, const std::function<QString(const char *)> &environment = {});

private:
    double shown(double measuredGB);

    QString m_homePath;
    Sinks m_sinks;
    double m_measuredGB = 0;
    bool m_showsDemoFigure = false;
    QFutureWatcher<std::uint64_t> m_sizeWatcher;
    QElapsedTimer m_sinceWalk;
    int m_generation = 0;       // bumped by each purge
    int m_walkGeneration = 0;   // the generation the running walk started in
    struct PurgeOutcome { std::uint64_t freed = 0; std::uint64_t remaining = 0; QString hub; QStringList failures; };
    QFutureWatcher<PurgeOutcome> m_purgeWatcher;
};
