#include "LocalPath.h"

namespace {
constexpr char16_t kEscapeBase = 0xDC00;

// Length of the well-formed UTF-8 sequence at `at`, or 0 when the byte there starts none
// (overlong forms, surrogates and values past U+10FFFF included).
int sequenceLength(const unsigned char *at, qsizetype left)
{
    const unsigned char lead = at[0];
    if (lead < 0x80)
        return 1;
    int length = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
    else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0;
        else if (lead == 0xED)
            high = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        else if (lead == 0xF4)
            high = 0x8F;
    } else
        return 0;
    if (left < length || at[1] < low || at[1] > high)
        return 0;
    for (int i = 2; i < length; ++i)
        if (at[i] < 0x80 || at[i] > 0xBF)
            return 0;
    return length;
}
}

QString LocalPath::decode(const QByteArray &bytes)
{
    QString out;
    out.reserve(bytes.size());
    const auto *data = reinterpret_cast<const unsigned char *>(bytes.constData());
    qsizetype start = 0;   // first byte of the valid run not yet copied
    qsizetype i = 0;
    const auto flush = [&] {
        if (i > start)
            out += QString::fromUtf8(bytes.constData() + start, i - start);
    };
    while (i < bytes.size()) {
        const int length = sequenceLength(data + i, bytes.size() - i);
        if (length > 0) {
            i += length;
            continue;
        }
        flush();
        out += QChar(char16_t(kEscapeBase + data[i]));
        start = ++i;
    }
    flush();
    return out;
}

QByteArray LocalPath::encode(const QString &path)
{
    QByteArray out;
    out.reserve(path.size());
    qsizetype start = 0;
    const auto flush = [&](qsizetype end) {
        if (end > start)
            out += QStringView(path).mid(start, end - start).toUtf8();
    };
    for (qsizetype i = 0; i < path.size(); ++i) {
        const char16_t unit = path.at(i).unicode();
        // A lone low surrogate in the escape range; a proper pair is text and stays text.
        const bool pairedWithHigh = i > 0 && path.at(i - 1).isHighSurrogate();
        if (unit >= kEscapeBase + 0x80 && unit <= kEscapeBase + 0xFF && !pairedWithHigh) {
            flush(i);
            out += char(unit - kEscapeBase);
            start = i + 1;
        }
    }
    flush(path.size());
    return out;
}
