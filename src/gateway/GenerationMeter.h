#pragma once

#include "GenerationFigures.h"
#include "HttpFramer.h"

#include <cstddef>
#include <cstdint>
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
    // An object's figures while it is read: plain bytes, so a streamed reply's many lines
    // cost no allocation.
    struct Reading
    {
        char model[kValueMax];
        int modelSize = 0;
        bool done = false;
        std::uint64_t promptTokens = 0;
        std::uint64_t generatedTokens = 0;
        std::uint64_t loadNs = 0;
        std::uint64_t promptEvalNs = 0;
        std::uint64_t evalNs = 0;
        void reset() { modelSize = 0; done = false; promptTokens = generatedTokens = loadNs = promptEvalNs = evalNs = 0; }
    };

    bool skipsPartialLines(const char *data, std::size_t size);
    static Key keyNamed(const char *name, int size);
    void keep(const char *data, std::size_t size);
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
    char m_capture[kValueMax];
    int m_captured = 0;
    Reading m_reading;                        // the object being read
    Reading m_last;                           // the last complete object
    bool m_hasLast = false;                   // ... when it said it was done
};
