// Engine blocks against hand-written loops doing the same arithmetic, and the compile of the
// largest graph against allocating its buffers alone. Prints each ratio as the median over the
// repetitions with its range.
#include "bench/ratio_reporter.hpp"
#include "engine/audio_engine.hpp"
#include "engine/builtin.hpp"
#include "engine/graph_compiler.hpp"
#include "tests/engine/test_module.hpp"

#include <benchmark/benchmark.h>

#include <array>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace velkaphon::rack;
using testing::cable;
using testing::node;
using testing::port;
using testing::TestModuleFactory;
using testing::TestModuleSetup;

constexpr std::uint32_t kMaxBlock = 4096;
constexpr float kGain = 0.999f;

// A plain stereo gain, as a simple plug-in would be. With the opt-ins it declares what a built-in
// module would; without them it is treated as a hosted plug-in is.
class PlainGain final : public Module {
public:
    explicit PlainGain(bool optIn) : optIn_(optIn) {}

    std::vector<PortSpec> inputs() const override { return {{"in", "in", 2}}; }
    std::vector<PortSpec> outputs() const override { return {{"out", "out", 2}}; }
    void prepare(const ProcessSpec&) override {}
    void process(BlockContext& context) override {
        for (std::uint32_t c = 0; c < 2; ++c) {
            const float* in = context.inputs[0].channels[c];
            float* out = context.outputs[0].channels[c];
            for (std::uint32_t i = 0; i < context.frames; ++i) {
                out[i] = in[i] * kGain;
            }
        }
    }
    std::uint32_t latencySamples() const override { return 0; }
    float level() const override { return 0.0f; }
    void setControl(std::uint32_t, double) override {}
    nlohmann::json status() const override { return nlohmann::json::object(); }
    bool writesEveryOutputSample() const override { return optIn_; }
    bool neverWritesInputs() const override { return optIn_; }

private:
    bool optIn_;
};

std::unique_ptr<Module> benchModule(const NodeDefinition& definition) {
    if (definition.type == "gain" || definition.type == "hosted-gain") {
        return std::make_unique<PlainGain>(definition.type == "gain");
    }
    return createBuiltin(definition);
}

// Stereo host buses of the largest block, the input holding a steady signal.
struct HostBuses {
    HostBuses() {
        for (int c = 0; c < 2; ++c) {
            in[c].assign(kMaxBlock, 0.25f);
            out[c].assign(kMaxBlock, 0.0f);
            inPointers[c] = in[c].data();
            outPointers[c] = out[c].data();
        }
    }

    BusSpan input() const { return {inPointers.data(), 2}; }
    BusSpan output() const { return {outPointers.data(), 2}; }

    std::array<std::vector<float>, 2> in;
    std::array<std::vector<float>, 2> out;
    std::array<float*, 2> inPointers{};
    std::array<float*, 2> outPointers{};
};

void runEngine(benchmark::State& state, const GraphDefinition& definition, std::uint32_t frames) {
    HostBuses host;
    AudioEngine engine;
    engine.publishGraph(compileGraph(definition, {48000.0, kMaxBlock}, benchModule));
    for (auto _ : state) {
        engine.process(frames, host.input(), host.output(), TransportInfo{}, nullptr, 0);
        benchmark::DoNotOptimize(host.out[0].data());
    }
}

// Host input, `stages` stereo gains, host output.
GraphDefinition gainChain(int stages, bool optIn) {
    GraphDefinition definition;
    definition.nodes.push_back(node("in", "input"));
    std::string previous = "in";
    for (int s = 0; s < stages; ++s) {
        const std::string id = "gain" + std::to_string(s);
        definition.nodes.push_back(node(id, optIn ? "gain" : "hosted-gain"));
        definition.cables.push_back(cable(previous, "out", id, "in"));
        previous = id;
    }
    definition.nodes.push_back(node("out", "output"));
    definition.cables.push_back(cable(previous, "out", "out", "in"));
    return definition;
}

// Arguments: stages, frames, 1 when the gain module takes both opt-ins.
void engineGainChain(benchmark::State& state) {
    runEngine(state, gainChain(static_cast<int>(state.range(0)), state.range(2) != 0),
              static_cast<std::uint32_t>(state.range(1)));
}

// The same gains by hand, over the compiled chain's own output buffers, then into the host output.
void handGainChain(benchmark::State& state) {
    const auto stages = static_cast<int>(state.range(0));
    const auto frames = static_cast<std::uint32_t>(state.range(1));
    HostBuses host;
    const auto graph = compileGraph(gainChain(stages, true), {48000.0, kMaxBlock}, benchModule);
    std::vector<float*> buffers;
    for (const PreparedNode& node : graph->state().nodes) {
        if (node.id.starts_with("gain")) {
            buffers.push_back(node.outputBuffers[0].channelPointers[0]);
            buffers.push_back(node.outputBuffers[0].channelPointers[1]);
        }
    }
    for (auto _ : state) {
        for (std::size_t c = 0; c < 2; ++c) {
            const float* previous = host.in[c].data();
            for (int s = 0; s < stages; ++s) {
                float* out = buffers[static_cast<std::size_t>(s) * 2 + c];
                for (std::uint32_t i = 0; i < frames; ++i) {
                    out[i] = previous[i] * kGain;
                }
                previous = out;
            }
            std::copy_n(previous, frames, host.out[c].data());
        }
        benchmark::DoNotOptimize(host.out[0].data());
    }
}

constexpr int kFaderBanks = 8;

double bankGainDb(int bank) {
    return -1.5 * bank;
}

// Host input into 8 stereo fader banks at rest, summed, to the host output.
GraphDefinition faderBankPatch() {
    GraphDefinition definition;
    definition.nodes.push_back(node("in", "input"));
    definition.nodes.push_back(node("sum", "summing", {{"inputs", kFaderBanks}}));
    definition.nodes.push_back(node("out", "output"));
    for (int b = 0; b < kFaderBanks; ++b) {
        const std::string id = "faders" + std::to_string(b);
        definition.nodes.push_back(node(id, "fader-bank", {{"gainsDb", {bankGainDb(b)}}}));
        definition.cables.push_back(cable("in", "out", id, "in0"));
        definition.cables.push_back(cable(id, "out0", "sum", "in" + std::to_string(b)));
    }
    definition.cables.push_back(cable("sum", "out", "out", "in"));
    return definition;
}

void engineFaderBankPatch(benchmark::State& state) {
    runEngine(state, faderBankPatch(), static_cast<std::uint32_t>(state.range(0)));
}

// The same gains, in the same precision, and the same sum.
void handFaderBankPatch(benchmark::State& state) {
    const auto frames = static_cast<std::uint32_t>(state.range(0));
    HostBuses host;
    std::array<double, kFaderBanks> gains{};
    for (int b = 0; b < kFaderBanks; ++b) {
        gains[b] = std::pow(10.0, bankGainDb(b) / 20.0);
    }
    std::vector<double> sum(kMaxBlock);
    for (auto _ : state) {
        for (std::size_t c = 0; c < 2; ++c) {
            const float* in = host.in[c].data();
            std::fill_n(sum.begin(), frames, 0.0);
            for (const double gain : gains) {
                for (std::uint32_t i = 0; i < frames; ++i) {
                    sum[i] += static_cast<float>(in[i] * gain);
                }
            }
            float* out = host.out[c].data();
            for (std::uint32_t i = 0; i < frames; ++i) {
                out[i] = static_cast<float>(sum[i]);
            }
        }
        benchmark::DoNotOptimize(host.out[0].data());
    }
}

// 128 nodes and 4096 one-channel cables, each input fed by an earlier node, with latencies that
// make delay lines: the most that the limits allow.
struct LargestGraph {
    LargestGraph() {
        constexpr int kNodes = 128;
        constexpr int kOutputs = 32;
        for (int n = 0; n < kNodes; ++n) {
            const std::string id = "n" + std::to_string(n);
            const int inputs = n == 0 ? 0 : (n <= 32 ? 33 : 32);
            TestModuleSetup setup;
            for (int p = 0; p < inputs; ++p) {
                setup.inputs.push_back(port("in" + std::to_string(p), 1));
                const int source = (n * 7 + p) % n;
                definition.cables.push_back(cable("n" + std::to_string(source),
                                                  "out" + std::to_string(p % kOutputs), id,
                                                  "in" + std::to_string(p)));
            }
            for (int p = 0; p < kOutputs; ++p) {
                setup.outputs.push_back(port("out" + std::to_string(p), 1));
            }
            setup.latencyAnswers = {static_cast<std::uint32_t>(n % 3)};
            modules.add(id, setup);
            definition.nodes.push_back(node(id));
        }
    }

    TestModuleFactory modules;
    GraphDefinition definition;
};

constexpr ProcessSpec kCompileSpec{48000.0, 512};

void compileLargestGraph(benchmark::State& state) {
    LargestGraph largest;
    const ModuleFactory factory = largest.modules.factory();
    for (auto _ : state) {
        auto graph = compileGraph(largest.definition, kCompileSpec, factory);
        benchmark::DoNotOptimize(graph.get());
    }
}

// What any compile must do at least: make every module and allocate its zeroed port buffers.
void allocateLargestGraphBuffers(benchmark::State& state) {
    LargestGraph largest;
    const ModuleFactory factory = largest.modules.factory();
    for (auto _ : state) {
        std::vector<std::unique_ptr<Module>> made;
        std::vector<std::vector<float>> buffers;
        for (const NodeDefinition& definition : largest.definition.nodes) {
            made.push_back(factory(definition));
            made.back()->prepare(kCompileSpec);
            for (const auto& ports : {made.back()->inputs(), made.back()->outputs()}) {
                for (const PortSpec& spec : ports) {
                    buffers.emplace_back(std::size_t{spec.channels} * kCompileSpec.maxBlockSize);
                }
            }
        }
        benchmark::DoNotOptimize(buffers.data());
    }
}

BENCHMARK(engineGainChain)->ArgsProduct({{1, 126}, {64, 256, 4096}, {1, 0}});
BENCHMARK(handGainChain)->ArgsProduct({{1, 126}, {64, 256, 4096}});
BENCHMARK(engineFaderBankPatch)->Arg(64)->Arg(256);
BENCHMARK(handFaderBankPatch)->Arg(64)->Arg(256);
BENCHMARK(compileLargestGraph)->Unit(benchmark::kMillisecond);
BENCHMARK(allocateLargestGraphBuffers)->Unit(benchmark::kMillisecond);

void printRatios(const velkaphon::rack::bench::RatioReporter& reporter) {
    for (const char* stages : {"1", "126"}) {
        for (const char* frames : {"64", "256", "4096"}) {
            const std::string args = std::string("/") + stages + "/" + frames;
            for (const char* optIn : {"1", "0"}) {
                reporter.printRatio(std::string("gain chain") + args +
                                        (optIn[0] == '1' ? " opt-ins" : " no opt-ins") +
                                        " / hand loop",
                                    "engineGainChain" + args + "/" + optIn, "handGainChain" + args);
            }
        }
    }
    for (const char* frames : {"64", "256"}) {
        reporter.printRatio(std::string("fader-bank patch/") + frames + " / hand loop",
                            std::string("engineFaderBankPatch/") + frames,
                            std::string("handFaderBankPatch/") + frames);
    }
    reporter.printRatio("compile largest graph / allocate its buffers", "compileLargestGraph",
                        "allocateLargestGraphBuffers");
}

} // namespace

int main(int argc, char** argv) {
    return velkaphon::rack::bench::runWithRatios(argc, argv, printRatios);
}
