#include "GenerationMeter.h"

#include <algorithm>
#include <cstring>

namespace {
bool isSpace(char c)
{
    return c == ' ' || c == '\n' || c == '\r' || c == '\t';
}

bool wholeNumber(const char *text, int size, std::uint64_t *value)
{
    if (size == 0 || size > 20)
        return false;
    std::uint64_t n = 0;
    for (int i = 0; i < size; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
        const std::uint64_t digit = std::uint64_t(text[i] - '0');
        if (n > (UINT64_MAX - digit) / 10)
            return false;
        n = n * 10 + digit;
    }
    *value = n;
    return true;
}
}

void GenerationMeter::begin()
{
    m_depth = 0;
    m_inString = m_escape = m_expectKey = m_capturing = m_inScalar = false;
    m_key = Key::Other;
    m_captured = 0;
    m_reading.reset();
    m_hasLast = false;
}

GenerationMeter::Key GenerationMeter::keyNamed(const char *name, int size)
{
    // Most keys of a streamed line are none of these: their length alone says so.
    const auto is = [&](const char *known) { return std::memcmp(name, known, std::size_t(size)) == 0; };
    switch (size) {
    case 4: return is("done") ? Key::Done : Key::Other;
    case 5: return is("model") ? Key::Model : Key::Other;
    case 10: return is("eval_count") ? Key::EvalCount : Key::Other;
    case 13: return is("load_duration") ? Key::Load : is("eval_duration") ? Key::Eval : Key::Other;
    case 17: return is("prompt_eval_count") ? Key::PromptCount : Key::Other;
    case 20: return is("prompt_eval_duration") ? Key::PromptEval : Key::Other;
    default: return Key::Other;
    }
}

void GenerationMeter::keep(const char *data, std::size_t size)
{
    const std::size_t room = std::size_t(kValueMax - m_captured);
    const std::size_t taken = std::min(room, size);
    std::memcpy(m_capture + m_captured, data, taken);
    m_captured += int(taken);
}

void GenerationMeter::junk()
{
    // Whatever the reply ends with decides: text that is not an object voids the figures
    // of any object before it.
    m_hasLast = false;
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
        m_reading.done = m_captured == 4 && std::memcmp(m_capture, "true", 4) == 0;
        return;
    }
    std::uint64_t value = 0;
    if (!wholeNumber(m_capture, m_captured, &value))
        return;   // a count that is not a whole number is not counted
    switch (m_key) {
    case Key::PromptCount: m_reading.promptTokens = value; break;
    case Key::EvalCount: m_reading.generatedTokens = value; break;
    case Key::Load: m_reading.loadNs = value; break;
    case Key::PromptEval: m_reading.promptEvalNs = value; break;
    case Key::Eval: m_reading.evalNs = value; break;
    default: break;
    }
}

void GenerationMeter::stringEnded()
{
    m_inString = false;
    if (!m_capturing)
        return;
    m_capturing = false;
    if (m_expectKey) {
        m_key = m_captured <= kKeyMax ? keyNamed(m_capture, m_captured) : Key::Other;
        return;
    }
    if (m_key == Key::Model) {
        std::memcpy(m_reading.model, m_capture, std::size_t(m_captured));
        m_reading.modelSize = m_captured;
    }
}

void GenerationMeter::objectEnded()
{
    // An error object, or a reply that stopped before its end, voids what came before.
    m_hasLast = m_reading.done;
    if (m_hasLast)
        m_last = m_reading;
}

bool GenerationMeter::skipsPartialLines(const char *data, std::size_t size)
{
    // Ollama streams a line a chunk, and every line but the last ends its object with
    // "done": false, written last. Lines that begin between objects and end that way
    // decide nothing but that the reply is not done yet, which is all that is kept of
    // them: read in full, they made the relay's streaming a third slower than without
    // this reading. Anything else, the last line included, is read in full.
    static constexpr char kPartialEnd[] = "\"done\":false}\n";
    constexpr std::size_t kEndSize = sizeof kPartialEnd - 1;
    if (m_depth != 0 || m_inString || size <= kEndSize || data[0] != '{'
        || std::memcmp(data + size - kEndSize, kPartialEnd, kEndSize) != 0 || data[size - kEndSize - 1] != ',')
        return false;
    m_hasLast = false;
    return true;
}

void GenerationMeter::bodyBytes(const char *data, std::size_t size)
{
    if (skipsPartialLines(data, size))
        return;
    const char *at = data;
    const char *const end = data + size;
    while (at < end) {
        if (m_inString) {
            if (m_escape) {
                m_escape = false;
                if (m_capturing)
                    keep(at, 1);
                ++at;
                continue;
            }
            // Most of a reply is text inside strings: skip to the next quote or backslash.
            const char *quote = static_cast<const char *>(std::memchr(at, '"', std::size_t(end - at)));
            const char *limit = quote ? quote : end;
            const char *slash = static_cast<const char *>(std::memchr(at, '\\', std::size_t(limit - at)));
            const char *stop = slash ? slash : limit;
            if (m_capturing)
                keep(at, std::size_t(stop - at));
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
            m_captured = 0;
            m_capturing = m_depth == 1 && (m_expectKey || m_key == Key::Model);
            break;
        case '{':
        case '[':
            if (m_depth == 0) {
                if (c == '[') {
                    junk();
                    break;
                }
                m_reading.reset();
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
                    m_captured = 0;
                    m_capturing = m_key != Key::Other && m_key != Key::Model;
                }
                if (m_capturing && m_captured < kKeyMax)
                    m_capture[m_captured++] = c;
            }
            break;
        }
    }
}

std::optional<GenerationFigures> GenerationMeter::finish()
{
    // An object still open when the reply ends was cut short.
    std::optional<GenerationFigures> figures;
    if (m_hasLast && m_depth == 0 && !m_inString) {
        figures.emplace();
        figures->model = QString::fromUtf8(m_last.model, m_last.modelSize);
        figures->promptTokens = m_last.promptTokens;
        figures->generatedTokens = m_last.generatedTokens;
        figures->loadNs = m_last.loadNs;
        figures->promptEvalNs = m_last.promptEvalNs;
        figures->evalNs = m_last.evalNs;
    }
    begin();
    return figures;
}
