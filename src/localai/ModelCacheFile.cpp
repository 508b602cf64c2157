#include "ModelCacheFile.h"

QVariantMap ModelCacheFile::toVariantMap() const
{
    return {{QStringLiteral("id"), id()},
            {QStringLiteral("name"), name},
            {QStringLiteral("size"), size},
            {QStringLiteral("path"), path},
            {QStringLiteral("type"), type},
            {QStringLiteral("sizeInGB"), sizeInGB()}};
}
