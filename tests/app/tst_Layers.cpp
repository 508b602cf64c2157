// The layers of src/, checked from the #include lines themselves: an edge outside the table
// below fails the suite, so a service cannot quietly come to depend on another's class or a
// platform adapter on a service.
//
//   platform/  -> platform only
//   a service  -> itself, platform, another service's records (Q_GADGET value types), and the
//                 per-user settings store (app/Preferences.h), which every part reads
//   ui/        -> ui, platform, services and records, and app's own services (never an app
//                 header that itself includes ui/, so the two never form a loop)
//   exporter/  -> exporter, platform, services and records
//   app/       -> everything

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QTest>

namespace {
const QSet<QString> kServices{"telemetry", "processes", "presets", "localai", "gateway", "caches", "copilot", "support"};

struct Source
{
    QString path;    // relative to src/
    QString layer;   // its first folder; files at the top belong to app
    QString text;
};

QString layerOf(const QString &relative)
{
    const qsizetype slash = relative.indexOf(QLatin1Char('/'));
    return slash < 0 ? QStringLiteral("app") : relative.left(slash);
}

QString read(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

bool isRecord(const QString &text)
{
    return text.contains(QLatin1String("Q_GADGET")) && !text.contains(QLatin1String("Q_OBJECT"));
}
}

class TestLayers : public QObject
{
    Q_OBJECT

    QString root = QStringLiteral(QUILLMOOR_SOURCE_DIR);
    QHash<QString, Source> sources;

    // What `include` in `from` names, relative to src/; empty for a file outside src/.
    QString resolve(const Source &from, const QString &include) const
    {
        const QString beside = QFileInfo(from.path).path() + QLatin1Char('/') + include;
        for (const QString &candidate : {QDir::cleanPath(beside), include})
            if (sources.contains(candidate))
                return candidate;
        return {};
    }

    bool allowed(const Source &from, const Source &to) const
    {
        if (from.layer == to.layer || from.layer == QLatin1String("app") || to.layer == QLatin1String("platform"))
            return true;
        if (from.layer == QLatin1String("platform"))
            return false;
        if (kServices.contains(from.layer))
            return (kServices.contains(to.layer) && isRecord(to.text)) || to.path == QLatin1String("app/Preferences.h");
        if (from.layer == QLatin1String("ui") || from.layer == QLatin1String("exporter")) {
            if (kServices.contains(to.layer))
                return true;
            // The settings page shows whether the metrics endpoint listens, and why not.
            if (from.layer == QLatin1String("ui") && to.layer == QLatin1String("exporter"))
                return true;
            return from.layer == QLatin1String("ui") && to.layer == QLatin1String("app")
                && !to.text.contains(QLatin1String("#include \"ui/"));
        }
        return false;
    }

private Q_SLOTS:
    void initTestCase()
    {
        QDirIterator files(root, {QStringLiteral("*.h"), QStringLiteral("*.cpp")}, QDir::Files, QDirIterator::Subdirectories);
        while (files.hasNext()) {
            const QString path = files.next();
            const QString relative = QDir(root).relativeFilePath(path);
            sources.insert(relative, {relative, layerOf(relative), read(path)});
        }
        QVERIFY2(sources.size() > 100, qPrintable(root));
        QVERIFY(sources.contains(QStringLiteral("telemetry/SystemStatsProvider.h")));
    }

    void includesFollowTheLayers()
    {
        static const QRegularExpression include(QStringLiteral("^\\s*#\\s*include\\s+\"([^\"]+)\""),
                                                QRegularExpression::MultilineOption);
        QStringList broken;
        for (const Source &from : std::as_const(sources)) {
            for (auto it = include.globalMatch(from.text); it.hasNext();) {
                const QString target = resolve(from, it.next().captured(1));
                if (!target.isEmpty() && !allowed(from, sources.value(target)))
                    broken << from.path + QStringLiteral(" -> ") + target;
            }
        }
        broken.sort();
        QVERIFY2(broken.isEmpty(), qPrintable(broken.join(QLatin1Char('\n'))));
    }

    // The single instances are made in one file of app/, and nothing outside app/ asks for
    // one: a service gets what it reads of another handed in.
    void singleInstancesAreWiredInOnePlace()
    {
        static const QRegularExpression definition(QStringLiteral("\\b(\\w+)\\s*&\\s*\\1::shared\\(\\)"));
        static const QRegularExpression use(QStringLiteral("\\b(\\w+)::shared\\(\\)"));
        QStringList defined, reached;
        for (const Source &from : std::as_const(sources)) {
            for (auto it = definition.globalMatch(from.text); it.hasNext();)
                if (from.path != QLatin1String("app/Wiring.cpp"))
                    defined << from.path + QStringLiteral(": ") + it.next().captured(1);
                else
                    it.next();
            if (from.layer != QLatin1String("app"))
                for (auto it = use.globalMatch(from.text); it.hasNext();)
                    reached << from.path + QStringLiteral(": ") + it.next().captured(1);
        }
        QVERIFY2(defined.isEmpty(), qPrintable(defined.join(QLatin1Char('\n'))));
        QVERIFY2(reached.isEmpty(), qPrintable(reached.join(QLatin1Char('\n'))));
    }

    // The table itself: the edges it must refuse are refused.
    void tableRefusesWhatItShould()
    {
        const Source stats{"telemetry/SystemStatsProvider.h", "telemetry", "class X : public QObject { Q_OBJECT };"};
        const Source record{"localai/LocalAIModel.h", "localai", "struct X { Q_GADGET };"};
        const Source service{"localai/LocalAIService.h", "localai", "class X : public QObject { Q_OBJECT };"};
        const Source adapter{"platform/ProcFile.h", "platform", ""};
        const Source shell{"app/AppDelegate.h", "app", "#include \"ui/MenuBarView.h\""};
        const Source theme{"app/ThemeManager.h", "app", "class X : public QObject { Q_OBJECT };"};
        const Source view{"ui/QmlServices.h", "ui", ""};
        QVERIFY(allowed(stats, adapter));
        QVERIFY(allowed(stats, record));
        QVERIFY(!allowed(stats, service));
        QVERIFY(!allowed(adapter, record));
        QVERIFY(!allowed(stats, theme));
        QVERIFY(allowed(view, service));
        QVERIFY(allowed(view, theme));
        QVERIFY(!allowed(view, shell));
        QVERIFY(allowed(shell, view));
    }
};

QTEST_GUILESS_MAIN(TestLayers)
#include "tst_Layers.moc"
