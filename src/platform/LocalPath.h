#pragma once

#include <QByteArray>
#include <QString>

#include <string>

// File names on Linux are bytes, not text. QFile::decodeName turns a byte that is not
// UTF-8 into U+FFFD, so a file named that way can be listed but never found again by the
// name shown. Here such a byte travels as a lone surrogate (U+DC80 to U+DCFF, which valid
// UTF-8 never produces) and comes back as the same byte: every name listed can be opened,
// measured and deleted, and screens show the surrogate as a replacement mark.
class LocalPath
{
public:
    static QString decode(const QByteArray &bytes);
    static QString decode(const std::string &bytes) { return decode(QByteArray::fromStdString(bytes)); }
    static QByteArray encode(const QString &path);
    static std::string local(const QString &path) { return encode(path).toStdString(); }
};
