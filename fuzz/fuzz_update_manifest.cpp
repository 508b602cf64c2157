// The update host's answer (a small JSON manifest), the version numbers compared with it
// and the update server a user may set.
#include "FuzzInput.h"

#include "support/AutoUpdater.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray body = FuzzInput::bytes(data, size);
    if (const auto manifest = AutoUpdater::parseManifest(body)) {
        const int order = AutoUpdater::compareVersions(manifest->version, QStringLiteral("0.1.0"));
        // The order must turn around with the operands, or an update could be offered
        // both ways.
        if ((order > 0) != (AutoUpdater::compareVersions(QStringLiteral("0.1.0"), manifest->version) < 0))
            std::abort();
    }

    // Two versions split at the first newline.
    const QString text = FuzzInput::string(data, size);
    const qsizetype cut = text.indexOf(QLatin1Char('\n'));
    const QString a = cut < 0 ? text : text.left(cut);
    const QString b = cut < 0 ? QString() : text.mid(cut + 1);
    const int ab = AutoUpdater::compareVersions(a, b);
    const int ba = AutoUpdater::compareVersions(b, a);
    if ((ab < 0) != (ba > 0) || (ab == 0) != (ba == 0))
        std::abort();

    (void)AutoUpdater::endpointFor(AutoUpdater::serverFor(text));
    return 0;
}
