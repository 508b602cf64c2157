#include "Format.h"

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
