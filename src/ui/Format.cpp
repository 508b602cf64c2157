#include "Format.h"

#include "localai/LocalAIModel.h"
#include "platform/UserPaths.h"

#include <QDateTime>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {
// A figure with its unit, or a dash alone where there is no finite figure to show.
QString withUnit(double value, int decimals, const char *unit)
{
    const QString number = Format::fixed(value, decimals);
    return std::isfinite(value) ? number + QLatin1String(unit) : number;
}
}

QString Format::fixed(double value, int decimals)
{
    if (!std::isfinite(value))
        return QStringLiteral("–");
    // C's own "%.*f", so a figure rounds exactly as the format it stands for (ties of the
    // binary value to even), except that a small negative figure that rounds to zero reads
    // "0.0" rather than "-0.0".
    decimals = std::clamp(decimals, 0, 6);
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    if (text[0] == '-' && std::strtod(text, nullptr) == 0)
        return QString::fromLatin1(text + 1);
    return QString::fromLatin1(text);
}

QString Format::gb(double value, int decimals) { return withUnit(value, decimals, " GB"); }
QString Format::bytesAsGB(double bytes, int decimals) { return gb(bytes / 1073741824.0, decimals); }
QString Format::mb(double value, int decimals) { return withUnit(value, decimals, " MB"); }
QString Format::percent(double value, int decimals) { return withUnit(value, decimals, "%"); }
QString Format::kbPerSecond(double value) { return withUnit(value, 1, " KB/s"); }
QString Format::mbPerSecond(double value) { return withUnit(value, 1, " MB/s"); }
QString Format::ms(double value, int decimals) { return withUnit(value, decimals, " ms"); }
QString Format::watts(double value, int decimals) { return withUnit(value, decimals, " W"); }
QString Format::tokensPerSecond(double value) { return withUnit(value, 1, " tok/s"); }
QString Format::seconds(double value) { return value >= 60 ? withUnit(value / 60, 1, " min") : withUnit(value, 2, " s"); }
QString Format::ghz(double value) { return withUnit(value, 2, " GHz"); }

QString Format::degrees(double value)
{
    if (!std::isfinite(value))
        return QStringLiteral("–");
    return QString::number(qint64(std::trunc(value))) + QStringLiteral("°");
}

QString Format::estimate(const QString &text, bool measured)
{
    return measured ? text : QStringLiteral("≈ ") + text;
}

QString Format::size(double bytes)
{
    if (!std::isfinite(bytes))
        return QStringLiteral("–");
    const double b = std::max(bytes, 0.0);
    constexpr double kib = 1024.0, mib = kib * 1024.0, gib = mib * 1024.0;
    if (b < kib)
        return QString::number(qint64(b)) + QStringLiteral(" bytes");
    if (b < mib)
        return withUnit(b / kib, 0, " KB");
    if (b < 10 * mib)
        return withUnit(b / mib, 1, " MB");
    if (b < gib)
        return withUnit(b / mib, 0, " MB");
    return withUnit(b / gib, 1, " GB");
}

QString Format::homeRelative(const QString &path)
{
    const QString home = UserPaths().home();
    if (home.length() > 1 && (path == home || path.startsWith(home + QLatin1Char('/'))))
        return QLatin1Char('~') + path.mid(home.length());
    return path;
}

QString Format::modelExpiry(const QDateTime &expiresAt)
{
    return LocalAIModel::expiryText(expiresAt, QDateTime::currentDateTimeUtc());
}
