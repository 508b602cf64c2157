#pragma once

// What the AI screens' tests share: a model server's listing, lookups of what rows show,
// taps on controls, and the services' views of a fixture machine only.

#include "caches/BuildCacheService.h"
#include "localai/LocalAIService.h"
#include "support/FixtureTree.h"
#include "support/QmlPageHarness.h"

#include <QByteArray>
#include <QObject>
#include <QStringList>
#include <QUrl>

// Three models as Ollama's /api/ps lists them: one wholly in the GPU's memory and held
// forever (a negative keep-alive), one split between GPU and CPU, and one wholly in
// system memory whose expiry has passed.
inline QByteArray listing()
{
    return R"({"models": [
      {"name": "llama3:8b", "model": "llama3:8b", "size": 5137025024, "size_vram": 5137025024,
       "digest": "365c0bd3c000a25d28ddbf732fe1c6add414de7275464c4e4d1c3b5fcb5d8ad1",
       "details": {"format": "gguf", "parameter_size": "8.0B", "quantization_level": "Q4_0"},
       "expires_at": "2318-09-18T12:00:00Z", "context_length": 8192},
      {"name": "mixtral:8x7b", "model": "mixtral:8x7b", "size": 10000000000, "size_vram": 5200000000,
       "details": {"format": "gguf", "parameter_size": "46.7B", "quantization_level": "Q4_K_M"},
       "expires_at": "2030-01-01T00:05:00Z", "context_length": 32768},
      {"name": "phi3:mini", "model": "phi3:mini", "size": 2400000000, "size_vram": 0,
       "details": {"format": "gguf", "parameter_size": "3.8B", "quantization_level": "Q4_K_M"},
       "expires_at": "2020-01-01T00:00:00Z", "context_length": 4096}]})";
}

// What an item shows, found by the text of a named child in each row.
inline QStringList texts(QObject *root, const char *row, const char *name)
{
    QStringList found;
    for (QObject *item : QmlPageHarness::shown(root, row))
        found << QmlPageHarness::text(item, name);
    return found;
}

inline bool click(QObject *button)
{
    return button && QMetaObject::invokeMethod(button, "clicked");
}

// A check box or switch flipped as a tap flips it: the control changes, then says so.
inline bool flip(QObject *control)
{
    return control && QMetaObject::invokeMethod(control, "toggle") && QMetaObject::invokeMethod(control, "toggled");
}

// The cache service's view of the fixture's home only: none of this machine's caches or
// environment.
inline BuildCacheSources cacheSourcesIn(const FixtureTree &tree)
{
    BuildCacheSources sources;
    sources.homePath = tree.path();
    sources.environment = [](const char *) { return QString(); };
    sources.ollamaServiceStores = {};
    return sources;
}

// The model service over the server at `url`, with no container tool to ask.
inline LocalAISources liveSources(const QUrl &url)
{
    LocalAISources s;
    s.ollamaUrl = url;
    s.searchPath = QStringList{};   // no container tool
    return s;
}
