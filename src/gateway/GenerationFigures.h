#pragma once

#include <QString>

#include <cstdint>

// What Ollama reports at the end of one generation (the object that says "done": true),
// durations in nanoseconds as it gives them.
struct GenerationFigures
{
    QString model;                     // empty when the reply did not name it
    std::uint64_t promptTokens = 0;    // prompt_eval_count
    std::uint64_t generatedTokens = 0; // eval_count
    std::uint64_t loadNs = 0;          // load_duration
    std::uint64_t promptEvalNs = 0;    // prompt_eval_duration
    std::uint64_t evalNs = 0;          // eval_duration

    bool operator==(const GenerationFigures &) const = default;
};
