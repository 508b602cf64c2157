#pragma once

#include "GenerationFigures.h"
#include "HttpFramer.h"

#include <QByteArray>

#include <cstddef>
#include <optional>

// Reads the figures out of one Ollama generate or chat reply as its body goes by: a
// stream of JSON objects, one a line, or one object when the client asked for no
// streaming. Nothing of the body is kept but the few top-level values it wants, so a reply
// of any length costs a few hundred bytes, and every byte has already been passed on when
// it is read here. Not a JSON validator: it follows strings, nesting and the top-level
// keys well enough to find the last object and what it says.
class GenerationMeter final : public HttpFramer::BodyListener
{
public:
    // A new reply begins.
    void begin();
    void bodyBytes(const char *data, std::size_t size) override;
    // The reply ended: the figures of its last object when that object was complete and
    // said "done": true; none for an error object, a reply cut short, or anything that is
    // not JSON after the last object.
    std::optional<GenerationFigures> finish();

private:
    static constexpr int kKeyMax = 32;
    static constexpr int kValueMax = 256;

    enum class Key { Other, Model, Done, PromptCount, EvalCount, Load, PromptEval, Eval };

    void scalarEnded();
    void stringEnded();
    void objectEnded();
    void junk();

    int m_depth = 0;             // 0 between objects, 1 in a top-level object
    bool m_inString = false;
    bool m_escape = false;
    bool m_expectKey = false;    // at depth 1: the next string is a key
    bool m_capturing = false;    // the current string or scalar is kept
    bool m_inScalar = false;
    Key m_key = Key::Other;
    QByteArray m_capture;
    bool m_done = false;
    GenerationFigures m_figures;                 // of the object being read
    std::optional<GenerationFigures> m_last;     // of the last complete object, when it was done
};
