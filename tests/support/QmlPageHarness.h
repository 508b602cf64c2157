#pragma once

// Loading the module's views and pages offscreen over a set of services, and finding what
// they show. Every QML warning printed while a harness exists is kept, so a test can fail
// on a misspelt binding, a TypeError or an unassignable property instead of a blank figure.

#include "ui/QmlServices.h"
#include "ui/SymbolImageProvider.h"

#include <QCoreApplication>
#include <QQmlComponent>
#include <QQmlEngine>
#include <QQuickItem>
#include <QQuickWindow>
#include <QSet>
#include <QStringList>
#include <QTest>

#include <memory>

class QmlPageHarness
{
public:
    explicit QmlPageHarness(QmlServices::Set services, QSize windowSize = {960, 700})
    {
        const QtMessageHandler before = qInstallMessageHandler(record);
        if (before != record)
            previous() = before;
        warnings().clear();
        engine = std::make_unique<QQmlEngine>();
        engine->addImageProvider(QStringLiteral("symbol"), new SymbolImageProvider);
        QmlServices::install(*engine, std::move(services));
        window = std::make_unique<QQuickWindow>();
        window->resize(windowSize);
    }
    ~QmlPageHarness()
    {
        window.reset();
        engine.reset();
        qInstallMessageHandler(previous());
    }
    QmlPageHarness(const QmlPageHarness &) = delete;
    QmlPageHarness &operator=(const QmlPageHarness &) = delete;

    // The warnings recorded since the harness was made (or last cleared).
    static QStringList &warnings()
    {
        static QStringList list;
        return list;
    }

    // `view` is the file's name in the module without ".qml" ("SettingsView", "SystemInfoPage").
    // Null, with the component's errors printed, when it does not load.
    QQuickItem *load(const QString &view, const QVariantMap &properties = {}, qreal width = 0)
    {
        QQmlComponent component(engine.get(), QUrl(QStringLiteral("qrc:/Quillmoor/%1.qml").arg(view)));
        for (int i = 0; i < 500 && component.isLoading(); ++i)
            QTest::qWait(10);
        if (!component.isReady()) {
            qWarning() << component.errors();
            return nullptr;
        }
        auto *item = qobject_cast<QQuickItem *>(component.createWithInitialProperties(properties));
        if (!item)
            return nullptr;
        item->setParentItem(window->contentItem());
        item->setWidth(width > 0 ? width : window->width());
        item->setHeight(window->height());
        item->setParent(window.get());
        return item;
    }

    // Items a Repeater or a Loader makes hang below their visual parent, not always their
    // QObject one; both trees are walked.
    static QList<QObject *> all(QObject *root, const char *name)
    {
        QList<QObject *> found;
        collect(root, QLatin1String(name), found);
        return found;
    }
    static QObject *child(QObject *root, const char *name)
    {
        const QList<QObject *> found = all(root, name);
        return found.isEmpty() ? nullptr : found.first();
    }
    static QVariant property(QObject *root, const char *name, const char *property)
    {
        QObject *item = child(root, name);
        return item ? item->property(property) : QVariant(QStringLiteral("<missing %1>").arg(QLatin1String(name)));
    }
    static QString text(QObject *root, const char *name) { return property(root, name, "text").toString(); }
    static QString valueOf(QObject *root, const char *name) { return property(root, name, "value").toString(); }
    // The visible ones among all(): what the user can see now.
    static QList<QObject *> shown(QObject *root, const char *name)
    {
        QList<QObject *> visible;
        for (QObject *o : all(root, name))
            if (o->property("visible").toBool())
                visible.append(o);
        return visible;
    }

    // A page a Loader let go of is deleted later; finish that, so lookups see what is shown.
    static void dropUnloaded() { QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete); }

    std::unique_ptr<QQmlEngine> engine;
    std::unique_ptr<QQuickWindow> window;

private:
    static QtMessageHandler &previous()
    {
        static QtMessageHandler handler = nullptr;
        return handler;
    }
    static void record(QtMsgType type, const QMessageLogContext &context, const QString &message)
    {
        if (type == QtWarningMsg || type == QtCriticalMsg)
            warnings().append(message);
        if (previous())
            previous()(type, context, message);
    }
    // An item may hang below one parent as a QObject and another as an item (a Repeater's
    // delegates, a Card's content); each is visited once.
    static void collect(QObject *root, const QString &name, QList<QObject *> &found)
    {
        QSet<QObject *> seen;
        QList<QObject *> pending{root};
        while (!pending.isEmpty()) {
            QObject *o = pending.takeFirst();
            if (seen.contains(o))
                continue;
            seen.insert(o);
            if (o->objectName() == name)
                found.append(o);
            pending += o->children();
            if (auto *item = qobject_cast<QQuickItem *>(o))
                for (QQuickItem *c : item->childItems())
                    pending.append(c);
        }
    }
};
