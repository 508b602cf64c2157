#include "CacheTable.h"

#include "platform/UserPaths.h"

#include <QDir>

namespace {
#ifdef Q_OS_MACOS
constexpr bool kOnMac = true;
#else
constexpr bool kOnMac = false;
#endif
}

QList<BuildCacheService::CacheRow> CacheTable::rows(const UserPaths &paths)
{
    using Cache = BuildCacheService::Cache;
    using CacheRow = BuildCacheService::CacheRow;
    using PurgeKind = BuildCacheService::PurgeKind;
    using PurgeTarget = BuildCacheService::PurgeTarget;

    const QDir home(paths.home());
    const auto orElse = [](const QString &value, const QString &fallback) { return value.isEmpty() ? fallback : value; };
    // Tools ignore relative values too (and GOCACHE=off turns the cache off).
    const auto variable = [&paths](const char *name) { return paths.absoluteVariable(name); };
    const QDir cacheHome(paths.cacheHome());
    const QDir dataHome(paths.dataHome());
    const QDir cargoHome(orElse(variable("CARGO_HOME"), home.filePath(QStringLiteral(".cargo"))));
    const QDir gradleHome(orElse(variable("GRADLE_USER_HOME"), home.filePath(QStringLiteral(".gradle"))));
    const QString developer = QStringLiteral("developer");
    const QString creative = QStringLiteral("creative");
    const QString gaming = QStringLiteral("gaming");

    const auto whole = [](const QStringList &folders) {
        QList<PurgeTarget> targets;
        for (const QString &folder : folders)
            targets.append(PurgeTarget{folder, PurgeKind::Whole});
        return targets;
    };
    const auto row = [&](Cache cache, const char *key, const char *title, const QString &group, QStringList measured,
                         QList<PurgeTarget> purges, qint64 demo, bool onThisPlatform = true) {
        return CacheRow{cache, QLatin1String(key), QLatin1String(title), group, std::move(measured), std::move(purges),
                        demo, onThisPlatform};
    };

    const QString derivedData = home.filePath(QStringLiteral("Library/Developer/Xcode/DerivedData"));
    const QString spm = cacheHome.filePath(QStringLiteral("org.swift.swiftpm"));
    const QString npm = home.filePath(QStringLiteral(".npm"));
    const QString cargoRegistry = cargoHome.filePath(QStringLiteral("registry"));
    const QString cargoGit = cargoHome.filePath(QStringLiteral("git"));
    const QString go = orElse(variable("GOCACHE"), cacheHome.filePath(QStringLiteral("go-build")));
    const QString finalCut = home.filePath(QStringLiteral("Library/Caches/com.apple.FinalCut"));
    // Resolve keeps its render cache in CacheClip.
    const QString davinci = dataHome.filePath(QStringLiteral("DaVinciResolve/CacheClip"));
    const QString adobe = home.filePath(QStringLiteral("Library/Application Support/Adobe/Common/Media Cache Files"));
    const QString pip = orElse(variable("PIP_CACHE_DIR"), cacheHome.filePath(QStringLiteral("pip")));
    const QString yarn = orElse(variable("YARN_CACHE_FOLDER"), cacheHome.filePath(QStringLiteral("yarn")));
    const QString pnpm = dataHome.filePath(QStringLiteral("pnpm/store"));
    const QString gradle = gradleHome.filePath(QStringLiteral("caches"));
    const QString maven = home.filePath(QStringLiteral(".m2/repository"));
    const QString ccache = orElse(variable("CCACHE_DIR"), cacheHome.filePath(QStringLiteral("ccache")));
    const QString bazel = home.filePath(QStringLiteral(".cache/bazel"));
    const QString torch = orElse(variable("TORCH_HOME"), cacheHome.filePath(QStringLiteral("torch")));
    const QStringList mesa{cacheHome.filePath(QStringLiteral("mesa_shader_cache")),
                           cacheHome.filePath(QStringLiteral("mesa_shader_cache_db"))};
    // Older drivers kept theirs in ~/.nv.
    const QStringList nvidia{cacheHome.filePath(QStringLiteral("nvidia/GLCache")), home.filePath(QStringLiteral(".nv/GLCache"))};
    const QString steam = dataHome.filePath(QStringLiteral("Steam/steamapps/shadercache"));

    return {
        row(Cache::DerivedData, "derivedDataSize", "Xcode DerivedData", developer, {derivedData},
            {PurgeTarget{derivedData, PurgeKind::Contents}}, 42'450'000'000, kOnMac),
        row(Cache::Spm, "spmCacheSize", "Swift PM Cache", developer, {spm}, {PurgeTarget{spm, PurgeKind::Contents}},
            8'210'000'000),
        row(Cache::Npm, "npmCacheSize", "npm Global Cache", developer, {npm}, whole({npm}), 4'120'000'000),
        row(Cache::Cargo, "cargoCacheSize", "Cargo (Rust) Cache", developer, {cargoRegistry},
            whole({cargoRegistry, cargoGit}), 9'560'000'000),
        row(Cache::Go, "goCacheSize", "Go Build Cache", developer, {go}, whole({go}), 3'420'000'000),
        row(Cache::FinalCut, "finalCutCacheSize", "Final Cut Pro Cache", creative, {finalCut}, whole({finalCut}),
            18'450'000'000, kOnMac),
        row(Cache::Davinci, "davinciCacheSize", "DaVinci Resolve Render Cache", creative, {davinci}, whole({davinci}),
            34'820'000'000),
        row(Cache::Adobe, "adobeCacheSize", "Adobe Premiere/AE Media Cache", creative, {adobe}, whole({adobe}),
            27'110'000'000, kOnMac),
        row(Cache::Pip, "pipCacheSize", "pip Cache", developer, {pip}, whole({pip}), 2'840'000'000),
        row(Cache::Yarn, "yarnCacheSize", "Yarn Cache", developer, {yarn}, whole({yarn}), 1'960'000'000),
        row(Cache::Pnpm, "pnpmStoreSize", "pnpm Store", developer, {pnpm}, whole({pnpm}), 3'150'000'000),
        row(Cache::Gradle, "gradleCacheSize", "Gradle Caches", developer, {gradle}, whole({gradle}), 6'720'000'000),
        row(Cache::Maven, "mavenRepositorySize", "Maven Repository", developer, {maven}, whole({maven}), 2'480'000'000),
        row(Cache::Ccache, "ccacheSize", "ccache", developer, {ccache}, whole({ccache}), 5'000'000'000),
        row(Cache::Bazel, "bazelCacheSize", "Bazel Output Cache", developer, {bazel}, whole({bazel}), 11'300'000'000),
        row(Cache::TorchHub, "torchHubCacheSize", "PyTorch Hub Cache", developer, {torch}, whole({torch}), 4'360'000'000),
        row(Cache::MesaShaders, "mesaShaderCacheSize", "Mesa Shader Cache", gaming, mesa, whole(mesa), 870'000'000),
        row(Cache::NvidiaShaders, "nvidiaShaderCacheSize", "NVIDIA Shader Cache", gaming, nvidia, whole(nvidia),
            420'000'000),
        // Steam expects the folder to stay; it refills it per game.
        row(Cache::SteamShaders, "steamShaderCacheSize", "Steam Shader Cache", gaming, {steam},
            {PurgeTarget{steam, PurgeKind::Contents}}, 7'640'000'000),
    };
}

QList<BuildCacheService::SDKRoot> CacheTable::sdkRoots(const UserPaths &paths)
{
    using SDKRoot = BuildCacheService::SDKRoot;
    const QDir home(paths.home());
    QString nvm = paths.absoluteVariable("NVM_DIR");
    if (nvm.isEmpty())
        nvm = home.filePath(QStringLiteral(".nvm"));
    QString mise = paths.absoluteVariable("MISE_DATA_DIR");
    if (mise.isEmpty())
        mise = QDir(paths.dataHome()).filePath(QStringLiteral("mise"));
    QString asdf = paths.absoluteVariable("ASDF_DATA_DIR");
    if (asdf.isEmpty())
        asdf = home.filePath(QStringLiteral(".asdf"));
    return {SDKRoot{QStringLiteral("nvm"), QDir(nvm).filePath(QStringLiteral("versions/node")), 1},
            SDKRoot{QStringLiteral("mise"), QDir(mise).filePath(QStringLiteral("installs")), 2},
            SDKRoot{QStringLiteral("asdf"), QDir(asdf).filePath(QStringLiteral("installs")), 2}};
}
