#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QStringList>

#include <optional>

// What the udisks daemon says about the drive under one folder.
struct UDisksDriveReport
{
    enum class Smart { None, Ata, Nvme };

    bool daemon = false;          // the daemon answered
    QString mountPoint;           // the longest mount point holding the folder; empty: none known
    QString label;                // that file system's label
    QString device;               // its block device, e.g. /dev/nvme0n1p2
    QString drive;                // the drive's object path; empty when none was found
    QString model;
    bool rotational = false;
    Smart smart = Smart::None;    // which health interface the drive offers
    bool smartSupported = false;
    bool smartEnabled = false;
    bool smartFailing = false;
    QStringList criticalWarnings;  // NVMe's, as the daemon names them
    int failingAttributes = 0;     // ATA attributes below their threshold now
    std::optional<double> wearPercent;        // share of rated endurance used
    std::optional<quint64> bytesWritten;      // by the host, over the drive's life
    std::optional<quint64> powerOnSeconds;
};

// org.freedesktop.UDisks2 on a bus handed in (the system bus for the app, a private one in
// tests): finds the block device mounted over a folder, follows it through encryption and
// LVM to its drive, and reads that drive's health. Every call is asynchronous; one report
// comes back per read(), on the caller's thread.
class UDisksClient : public QObject
{
    Q_OBJECT

public:
    static inline const QString kService = QStringLiteral("org.freedesktop.UDisks2");
    static inline const QString kRoot = QStringLiteral("/org/freedesktop/UDisks2");

    explicit UDisksClient(const QDBusConnection &bus, QObject *parent = nullptr);

    // Looks up the drive under `folder`; answered by reported(). A read while one runs is
    // answered when that one's report comes, with that report.
    void read(const QString &folder);
    bool reading() const { return m_reading; }

Q_SIGNALS:
    void reported(const UDisksDriveReport &report);

private:
    void finish(const UDisksDriveReport &report);
    void readAtaAttributes(UDisksDriveReport report);
    void readNvmeAttributes(UDisksDriveReport report);

    QDBusConnection m_bus;
    bool m_reading = false;
};
