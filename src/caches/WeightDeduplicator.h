#pragma once

#include "DuplicateWeights.h"
#include "platform/DeletionGuard.h"

#include <QList>
#include <QString>
#include <QStringList>

// Model weights kept twice, once in Ollama's blob store and once in the Hugging Face hub
// (or twice in one of them), found by the sha256 both stores put in the file names and
// made into one file with two names. Nothing is ever deleted outright: a copy is replaced
// by a link to the other only after both were read through and found byte for byte equal.
// Both calls block on the disk and belong on a worker.
class WeightDeduplicator
{
public:
    static constexpr const char *kStoreOllama = "Ollama";
    static constexpr const char *kStoreHuggingFace = "HuggingFace";

    struct Outcome
    {
        int linked = 0;                       // copies now sharing the kept file
        qint64 reclaimed = 0;                 // bytes of blocks measured as given back
        QList<DuplicateWeights> leftAlone;    // rows that are still two files
        QStringList reasons;                  // one line per row left alone
    };

    // Every copy of a blob that another file in the stores holds too: Ollama's
    // `<dir>/sha256-<hex>` and the hub's `models--*/blobs/<hex>`, grouped by digest and size.
    // Per group one file is kept (an Ollama blob before a hub one, then by path) and every
    // copy on another inode is listed against it; names that already share the kept
    // inode are not listed, nothing would come back.
    static QList<DuplicateWeights> find(const QStringList &ollamaBlobDirs, const QString &huggingFaceHub);

    // Links each row's copy to its kept file: a hard link, the other way round, then a
    // reflink, each way, renamed over the copy; only paths `guard` allows inside `roots`
    // are ever replaced. A row whose files differ, changed, vanished or cannot be linked
    // stays as it is, and says why.
    static Outcome apply(const QList<DuplicateWeights> &rows, const QStringList &roots, const DeletionGuard &guard);

    // What the screen says after a search, and after linking.
    static QString foundMessage(const QList<DuplicateWeights> &rows);
    static QString summary(const Outcome &outcome);
    static qint64 reclaimableBytes(const QList<DuplicateWeights> &rows);
};
