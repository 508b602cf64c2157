#pragma once

#include <QtGlobal>

#include <chrono>

// Milliseconds on the steady clock, for measuring intervals: it never jumps with the wall
// clock, and only differences between two readings mean anything.
inline qint64 steadyMilliseconds()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
}
