#pragma once

// Ollama's /api/tags and /api/ps answers for the installed-model tests, and the machine
// they are judged on, built so each of the four verdicts comes out once or more.

#include "localai/ModelFit.h"

#include <QByteArray>

constexpr qint64 kGiB = 1024LL * 1024 * 1024;

// Four models installed: a small one, an 8B, a mixture of experts and a 405B, with the
// fields as Ollama writes them (nanosecond time stamps, a zone offset).
inline QByteArray installedTags()
{
    return R"({"models": [
      {"name": "qwen2.5:0.5b", "model": "qwen2.5:0.5b", "modified_at": "2026-11-30T09:12:44.123456789+01:00",
       "size": 397821319, "digest": "a8b0c51577010a279d933d14c2a8ab4b268079d44c5c8830c0a93900f1827c67",
       "details": {"parent_model": "", "format": "gguf", "family": "qwen2", "families": ["qwen2"],
                   "parameter_size": "494.03M", "quantization_level": "Q4_K_M"}},
      {"name": "llama3:8b", "model": "llama3:8b", "modified_at": "2026-11-02T18:00:00Z",
       "size": 4661224676, "digest": "365c0bd3c000a25d28ddbf732fe1c6add414de7275464c4e4d1c3b5fcb5d8ad1",
       "details": {"format": "gguf", "family": "llama", "families": ["llama"],
                   "parameter_size": "8.0B", "quantization_level": "Q4_0"}},
      {"name": "mixtral:8x7b", "model": "mixtral:8x7b", "modified_at": "2026-10-15T07:30:00-07:00",
       "size": 26442493141, "digest": "d39eb76ed9c5e1bb0ae1bb1c3e1ff8a8e5b4b0a3f1c0d2e4f6a8b0c2d4e6f8a0",
       "details": {"format": "gguf", "family": "llama", "families": ["llama"],
                   "parameter_size": "46.7B", "quantization_level": "Q4_0"}},
      {"name": "llama3.1:405b", "model": "llama3.1:405b", "modified_at": "2026-09-01T12:00:00Z",
       "size": 243000000000, "digest": "65fb2bb4f7f1a7c1b9ff9c4c8e1d7d1c7d5f0e0b2d3e5c6f7a8b9c0d1e2f3a4b",
       "details": {"format": "gguf", "family": "llama", "families": ["llama"],
                   "parameter_size": "405.9B", "quantization_level": "Q4_0"}}]})";
}

// A cloud model as a newer server lists it, with a time stamp it could not have written.
inline QByteArray cloudModelTags()
{
    return R"({"models": [{"name": "gpt-oss:120b-cloud", "size": 384, "remote_host": "https://ollama.com:443",
                "modified_at": "yesterday"}]})";
}

// llama3:8b loaded wholly in system memory: ejected, it would give 5 GiB back there.
inline QByteArray loadedOnCpu()
{
    return R"({"models": [
      {"name": "llama3:8b", "model": "llama3:8b", "size": 5368709120, "size_vram": 0,
       "digest": "365c0bd3c000a25d28ddbf732fe1c6add414de7275464c4e4d1c3b5fcb5d8ad1",
       "details": {"format": "gguf", "parameter_size": "8.0B", "quantization_level": "Q4_0"},
       "expires_at": "2318-09-18T12:00:00Z", "context_length": 8192}]})";
}

// A GPU with 1 GiB of its 4 free and 40 GiB of 64 available: with llama3:8b's 5 GiB back,
// the 0.5B fits in the GPU, the 8B splits (the GPU takes a fifth), the mixture runs on the
// CPU (the GPU could take a twenty-fifth) and the 405B fits nowhere.
inline FreeMemory smallGpuMachine()
{
    return FreeMemory{1 * kGiB, 4 * kGiB, 40 * kGiB, 64 * kGiB};
}
