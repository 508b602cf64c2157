#pragma once

#include <QObject>
#include <QString>
#include <QtQml/qqmlregistration.h>

// The number formats every screen shares, as the QML singleton "Format": one place that
// says how a gigabyte figure, a rate or a percentage is written, so two tabs never show
// the same figure two ways. Each is C's printf rendering of the same format ("%.1f GB"…),
// with a non-finite figure shown as "–" instead of "nan GB".
class Format : public QObject
{
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON

public:
    using QObject::QObject;

    // "%.<decimals>f", the building block of the rest.
    Q_INVOKABLE static QString fixed(double value, int decimals = 1);
    // "%.1f GB" (or "%.2f GB"…) for a figure already in GB.
    Q_INVOKABLE static QString gb(double value, int decimals = 1);
    // A byte count as "%.1f GB".
    Q_INVOKABLE static QString bytesAsGB(double bytes, int decimals = 1);
    // "%.1f MB".
    Q_INVOKABLE static QString mb(double value, int decimals = 1);
    // "%.0f%%" (or "%.1f%%").
    Q_INVOKABLE static QString percent(double value, int decimals = 0);
    // "%.1f KB/s" and "%.1f MB/s".
    Q_INVOKABLE static QString kbPerSecond(double value);
    Q_INVOKABLE static QString mbPerSecond(double value);
    // "%.2f ms" (or "%.1f ms").
    Q_INVOKABLE static QString ms(double value, int decimals = 2);
    // "%.1f tok/s": how fast a model generates.
    Q_INVOKABLE static QString tokensPerSecond(double value);
    // A duration in seconds as "%.2f s" under a minute, else "%.1f min".
    Q_INVOKABLE static QString seconds(double value);
    // "%.2f W" (or "%.1f W").
    Q_INVOKABLE static QString watts(double value, int decimals = 2);
    // "%.2f GHz".
    Q_INVOKABLE static QString ghz(double value);
    // Degrees Celsius, whole, as the telemetry tabs show them: "47°" (truncated).
    Q_INVOKABLE static QString degrees(double value);
    // An estimate is marked so nobody takes it for a measurement: "≈ 1200 RPM".
    Q_INVOKABLE static QString estimate(const QString &text, bool measured);
    // A size in the unit a person would say it in: "512 bytes", "48 KB", "3.4 MB", "230 MB",
    // "3.2 GB" (binary multiples, as du -h and file managers count).
    Q_INVOKABLE static QString size(double bytes);
    // A loaded model's expiry from now, as Ollama's client shows it ("Forever", "Stopping…",
    // "in 4 minutes"); screens call it again as the clock moves.
    Q_INVOKABLE static QString modelExpiry(const QDateTime &expiresAt);
    // A path under the user's home written from "~", as people write it.
    Q_INVOKABLE static QString homeRelative(const QString &path);
};
