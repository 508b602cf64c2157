// The output of the programs Quillmoor runs: docker ps (the vector databases in
// containers), ping (the latency) and whatis (what a process is).
#include "FuzzInput.h"

#include "copilot/AIService.h"
#include "localai/ContainerWatch.h"
#include "localai/LocalAIService.h"
#include "telemetry/PingService.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray output = FuzzInput::bytes(data, size);
    (void)ContainerWatch::parse(output);
    (void)LocalAIService::parseContainers(output);
    (void)PingService::parseLatency(FuzzInput::string(data, size));
    (void)AIService::explanationFromWhatis(output);
    return 0;
}
