// The host's cost of the parameter values a plug-in reports back in a block, for plug-ins of few
// and of many parameters: matching a value to its parameter must not grow with their count.
#include "hosting/clap_block.hpp"
#include "hosting/vst3_block.hpp"
#include "hosting/vst3_host.hpp"
#include "ratio_reporter.hpp"

#include <algorithm>
#include <memory>
#include <numeric>
#include <random>
#include <vector>

namespace {

using namespace velkaphon::rack;
using namespace velkaphon::rack::vst3;

constexpr std::uint32_t kFrames = 64;

// Scattered ids, as plug-ins that hash their parameter names have.
std::uint32_t parameterId(std::size_t place) {
    return static_cast<std::uint32_t>(place) * 2654435761u + 17u;
}

// Evenly spread over the parameters, in no order.
std::vector<std::uint32_t> reportedIds(std::size_t parameters, std::size_t reported) {
    std::vector<std::uint32_t> ids;
    for (std::size_t i = 0; i < reported; ++i) {
        ids.push_back(parameterId(i * parameters / reported));
    }
    std::shuffle(ids.begin(), ids.end(), std::mt19937(7));
    return ids;
}

struct ClapReporter {
    std::vector<std::uint32_t> ids;
    clap_plugin plugin{};

    explicit ClapReporter(std::vector<std::uint32_t> reported) : ids(std::move(reported)) {
        plugin.plugin_data = this;
        plugin.process = [](const clap_plugin* self, const clap_process* process) {
            const auto& reporter = *static_cast<const ClapReporter*>(self->plugin_data);
            clap_event_param_value event{};
            event.header = {sizeof(event), 0, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_PARAM_VALUE, 0};
            event.note_id = -1;
            event.port_index = -1;
            event.channel = -1;
            event.key = -1;
            for (std::uint32_t id : reporter.ids) {
                event.param_id = id;
                event.value = 0.25;
                process->out_events->try_push(process->out_events, &event.header);
            }
            return static_cast<clap_process_status>(CLAP_PROCESS_CONTINUE);
        };
    }
};

// Args: the plug-in's parameter count, the values it reports in each block.
void clapReportedValues(benchmark::State& state) {
    const auto parameters = static_cast<std::uint32_t>(state.range(0));
    const auto reported = static_cast<std::size_t>(state.range(1));
    ClapReporter reporter(reportedIds(parameters, reported));
    auto block = std::make_unique<ClapBlock>();
    block->plugin = &reporter.plugin;
    block->slots = std::make_unique<ClapParameterSlot[]>(parameters);
    std::vector<std::uint32_t> ids(parameters);
    for (std::uint32_t place = 0; place < parameters; ++place) {
        ids[place] = parameterId(place);
        block->slots[place].info.id = ids[place];
        block->slots[place].info.max_value = 1.0;
    }
    block->parameterIndex.build(ids);
    block->values.reset(parameters);
    block->parameterCount = parameters;
    BlockContext context;
    context.frames = kFrames;
    for (auto _ : state) {
        processClapBlock(*block, context);
    }
    state.counters["per_value"] = benchmark::Counter(static_cast<double>(reported),
                                                     benchmark::Counter::kIsIterationInvariantRate |
                                                         benchmark::Counter::kInvert);
}

class VstReporter final : public UncountedObject<IAudioProcessor> {
public:
    explicit VstReporter(std::vector<std::uint32_t> reported) : ids_(std::move(reported)) {}

    tresult VELKAPHON_VST3_CALL setBusArrangements(SpeakerArrangement*, int32, SpeakerArrangement*,
                                                   int32) override {
        return kResultOk;
    }
    tresult VELKAPHON_VST3_CALL getBusArrangement(BusDirection, int32,
                                                  SpeakerArrangement&) override {
        return kResultFalse;
    }
    tresult VELKAPHON_VST3_CALL canProcessSampleSize(int32) override { return kResultOk; }
    uint32 VELKAPHON_VST3_CALL getLatencySamples() override { return 0; }
    tresult VELKAPHON_VST3_CALL setupProcessing(ProcessSetup&) override { return kResultOk; }
    tresult VELKAPHON_VST3_CALL setProcessing(TBool) override { return kResultOk; }
    uint32 VELKAPHON_VST3_CALL getTailSamples() override { return 0; }

    tresult VELKAPHON_VST3_CALL process(ProcessData& data) override {
        for (std::uint32_t id : ids_) {
            int32 index = 0;
            if (IParamValueQueue* queue =
                    data.outputParameterChanges->addParameterData(id, index)) {
                queue->addPoint(0, 0.25, index);
            }
        }
        return kResultOk;
    }

private:
    std::vector<std::uint32_t> ids_;
};

// Args: the plug-in's parameter count, the values it reports in each block.
void vstReportedValues(benchmark::State& state) {
    const auto parameters = static_cast<std::size_t>(state.range(0));
    const auto reported = static_cast<std::size_t>(state.range(1));
    VstReporter reporter(reportedIds(parameters, reported));
    auto host = std::make_unique<VstHostImpl::Host>();
    host->processor = InterfacePtr<IAudioProcessor>::adopt(&reporter);
    host->maxBlockSize = kFrames;
    for (std::size_t place = 0; place < parameters; ++place) {
        HostedParameter parameter;
        parameter.id = parameterId(place);
        host->parameters.push_back(parameter);
        host->parameterFlags.push_back(0);
    }
    host->parameterSlots = std::vector<ParameterSlot>(parameters);
    host->parameterValues.reset(parameters);
    indexVstParameters(*host);
    auto inputEvents = std::make_unique<VstEvents>();
    auto outputEvents = std::make_unique<VstEvents>();
    BlockContext context;
    context.frames = kFrames;
    for (auto _ : state) {
        processVstBlock(*host, *inputEvents, *outputEvents, context);
    }
    state.counters["per_value"] = benchmark::Counter(static_cast<double>(reported),
                                                     benchmark::Counter::kIsIterationInvariantRate |
                                                         benchmark::Counter::kInvert);
}

BENCHMARK(clapReportedValues)->Args({512, 512})->Args({4096, 512});
BENCHMARK(vstReportedValues)->Args({512, 512})->Args({4096, 4096});

void printRatios(const bench::RatioReporter& reporter) {
    // Both CLAP runs report 512 values, so their block times compare as their costs per value.
    reporter.printRatio("CLAP per reported value, 4096 parameters / 512",
                        "clapReportedValues/4096/512", "clapReportedValues/512/512");
    reporter.printRatio("VST3 per reported value, 4096 values a block / 512",
                        "vstReportedValues/4096/4096", "vstReportedValues/512/512", 8.0);
}

} // namespace

int main(int argc, char** argv) {
    return velkaphon::rack::bench::runWithRatios(argc, argv, printRatios);
}
