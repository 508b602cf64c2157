#include "GenerationMeter.h"

#include <cstring>

namespace {
bool isSpace(char c)
{
    return c == ' ' || c == '\n' || c == '\r' || c == '\t';
}
}

void GenerationMeter::begin()
{
    *this = GenerationMeter();
}

void GenerationMeter::junk()
{
    // Whatever the reply ends with decides: text that is not an object voids the figures
    // of any object before it.
    m_last.reset();
}

void GenerationMeter::scalarEnded()
{
    if (!m_inScalar)
        return;
    m_inScalar = false;
    if (!m_capturing)
        return;
    m_capturing = false;
    if (m_key == Key::Done) {
        m_done = m_capture == "true";
        return;
    }
    bool ok = false;
    const qulonglong value = m_capture.toULongLong(&ok);
    if (!ok)
        return;   // a count that is not a whole number is not counted
    switch (m_key) {
    case Key::PromptCount: m_figures.promptTokens = value; break;
    case Key::EvalCount: m_figures.generatedTokens = value; break;
    case Key::Load: m_figures.loadNs = value; break;
    case Key::PromptEval: m_figures.promptEvalNs = value; break;
    case Key::Eval: m_figures.evalNs = value; break;
    default: break;
    }
}

void GenerationMeter::stringEnded()
{
    m_inString = false;
    if (m_depth != 1 || !m_capturing)
        return;
    m_capturing = false;
    if (m_expectKey) {
        static const struct { const char *name; Key key; } kKeys[] = {
            {"model", Key::Model}, {"done", Key::Done}, {"prompt_eval_count", Key::PromptCount},
            {"eval_count", Key::EvalCount}, {"load_duration", Key::Load},
            {"prompt_eval_duration", Key::PromptEval}, {"eval_duration", Key::Eval}};
        m_key = Key::Other;
        for (const auto &known : kKeys)
            if (m_capture == known.name)
                m_key = known.key;
        return;
    }
    if (m_key == Key::Model)
        m_figures.model = QString::fromUtf8(m_capture);
}

void GenerationMeter::objectEnded()
{
    if (m_done)
        m_last = m_figures;
    else
        m_last.reset();   // an error object, or a reply that stopped before its end
}

void GenerationMeter::bodyBytes(const char *data, std::size_t size)
{
    const char *at = data;
    const char *const end = data + size;
    while (at < end) {
        if (m_inString) {
            if (m_escape) {
                m_escape = false;
                if (m_capturing && m_capture.size() < kValueMax)
                    m_capture.append(*at);
                ++at;
                continue;
            }
            // Most of a reply is text inside strings: skip to the next quote or backslash.
            const char *quote = static_cast<const char *>(std::memchr(at, '"', std::size_t(end - at)));
            const char *limit = quote ? quote : end;
            const char *slash = static_cast<const char *>(std::memchr(at, '\\', std::size_t(limit - at)));
            const char *stop = slash ? slash : limit;
            if (m_capturing) {
                const qsizetype room = kValueMax - m_capture.size();
                m_capture.append(at, std::min<qsizetype>(room, stop - at));
            }
            at = stop;
            if (at == end)
                return;
            if (*at == '\\')
                m_escape = true;
            else
                stringEnded();
            ++at;
            continue;
        }
        const char c = *at++;
        if (isSpace(c)) {
            scalarEnded();
            continue;
        }
        switch (c) {
        case '"':
            if (m_depth == 0) {
                junk();
                break;
            }
            m_inString = true;
            m_capture.clear();
            m_capturing = m_depth == 1 && (m_expectKey || m_key == Key::Model);
            break;
        case '{':
        case '[':
            if (m_depth == 0) {
                if (c == '[') {
                    junk();
                    break;
                }
                m_figures = {};
                m_done = false;
                m_key = Key::Other;
                m_expectKey = true;
            }
            ++m_depth;
            break;
        case '}':
        case ']':
            scalarEnded();
            if (m_depth == 0) {
                junk();
                break;
            }
            if (--m_depth == 0)
                objectEnded();
            break;
        case ':':
            if (m_depth == 1)
                m_expectKey = false;
            else if (m_depth == 0)
                junk();
            break;
        case ',':
            scalarEnded();
            if (m_depth == 1) {
                m_expectKey = true;
                m_key = Key::Other;
            } else if (m_depth == 0) {
                junk();
            }
            break;
        default:
            if (m_depth == 0) {
                junk();
                break;
            }
            if (m_depth == 1 && !m_expectKey) {
                if (!m_inScalar) {
                    m_inScalar = true;
                    m_capture.clear();
                    m_capturing = m_key != Key::Other && m_key != Key::Model;
                }
                if (m_capturing && m_capture.size() < kKeyMax)
                    m_capture.append(c);
            }
            break;
        }
    }
}

std::optional<GenerationFigures> GenerationMeter::finish()
{
    // An object still open when the reply ends was cut short.
    std::optional<GenerationFigures> figures = m_depth == 0 && !m_inString ? m_last : std::nullopt;
    begin();
    return figures;
}
