#pragma once

#include <QFuture>
#include <QFutureWatcher>
#include <QList>
#include <QObject>
#include <QtConcurrent/QtConcurrentRun>

#include <functional>

// Runs `work` on a worker thread and `then` with its result on `context`'s thread. The
// future joins `pending`, which the owner waits on before it goes, so no worker outlives
// the state it reads; finished ones are dropped here.
template<typename T>
void runOnWorker(QObject *context, QList<QFuture<void>> &pending, std::function<T()> work, std::function<void(T)> then)
{
    pending.removeIf([](const QFuture<void> &f) { return f.isFinished(); });
    auto *watcher = new QFutureWatcher<T>(context);
    QObject::connect(watcher, &QFutureWatcherBase::finished, context, [watcher, then = std::move(then)] {
        then(watcher->result());
        watcher->deleteLater();
    });
    const QFuture<T> future = QtConcurrent::run(std::move(work));
    pending.append(QFuture<void>(future));
    watcher->setFuture(future);
}
