// What comes from Ollama and its setup: the GET /api/ps and /api/tags answers (the installed
// models judged as the screens judge them), the time stamps in them, a model's manifest,
// the first bytes of a request the gateway relays (for the model it names) and the
// OLLAMA_HOST variable.
#include "FuzzInput.h"

#include "gateway/RelayedConnection.h"
#include "localai/InstalledModel.h"
#include "localai/LocalAIModel.h"
#include "localai/LocalAIService.h"
#include "localai/ModelFit.h"
#include "localai/ModelManifest.h"
#include "platform/UserPaths.h"

#include <QDateTime>
#include <QJsonObject>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray body = FuzzInput::bytes(data, size);
    const QString text = FuzzInput::string(data, size);

    if (const auto models = LocalAIModel::decodeListing(body)) {
        const QDateTime now = QDateTime::fromSecsSinceEpoch(1767225600, Qt::UTC);
        for (const LocalAIModel &model : *models) {
            (void)model.residency();
            (void)model.sizeInGB();
            if (model.expiresAt)
                (void)LocalAIModel::expiryText(*model.expiresAt, now);
            (void)model.toJson();
        }
    }
    if (const auto installed = InstalledModel::decodeTags(body)) {
        const FitBudget budget{std::optional<qint64>(8LL << 30), 16LL << 30};
        for (const InstalledModel &model : *installed)
            (void)ModelFit::verdict(model.size, budget);
    }
    (void)LocalAIModel::parseTimestamp(text);

    for (const QString &digest : ModelManifest::blobDigests(body))
        (void)ModelManifest::normalDigest(digest);
    (void)ModelManifest::normalDigest(text);

    (void)RelayedConnection::modelNamed(body);

    (void)UserPaths::ollamaValue(text);
    (void)UserPaths::ollamaServerFor(text);
    (void)LocalAIService::defaultOllamaUrl(text);
    return 0;
}
