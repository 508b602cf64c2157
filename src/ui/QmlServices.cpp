#include "QmlServices.h"

#include <QQmlEngine>

namespace {
constexpr char kEngineProperty[] = "quillmoorServices";
}

QmlServices::QmlServices(Set services, QObject *parent)
    : QObject(parent)
    , m_set(services)
{
}

void QmlServices::install(QQmlEngine &engine, Set services)
{
    static const int registered = qmlRegisterSingletonType<QmlServices>(
        "Quillmoor", 1, 0, "Services", [](QQmlEngine *e, QJSEngine *) -> QObject * {
            auto *set = e->property(kEngineProperty).value<QmlServices *>();
            // An engine nobody installed a set on gets an empty one, not a crash.
            if (!set)
                set = new QmlServices(Set{}, e);
            QQmlEngine::setObjectOwnership(set, QQmlEngine::CppOwnership);
            return set;
        });
    Q_UNUSED(registered);
    engine.setProperty(kEngineProperty, QVariant::fromValue(new QmlServices(services, &engine)));
}
