// Engine blocks against a hand-written loop doing the same gain arithmetic on the same buffers,
// and the compile of the largest graph against allocating its buffers alone. Prints the ratios.
#include "engine/audio_engine.hpp"
#include "engine/graph_compiler.hpp"
#include "tests/engine/test_module.hpp"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace velkaphon::rack;
using testing::cable;
using testing::HostRole;
using testing::node;
using testing::port;
using testing::TestModuleFactory;
using testing::TestModuleSetup;

constexpr std::uint32_t kMaxBlock = 4096;
constexpr float kGain = 0.999f;

// A source reading the host input, `stages` two-channel gain nodes and an output.
struct GainChain {
    explicit GainChain(int stages) {
        TestModuleSetup source;
        source.outputs = {port("out", 2)};
        source.hostRole = HostRole::ReadsHostInput;
        modules.add("src", source);
        definition.nodes.push_back(node("src", "input"));
        std::string previous = "src";
        for (int s = 0; s < stages; ++s) {
            const std::string id = "gain" + std::to_string(s);
            TestModuleSetup gain;
            gain.inputs = {port("in", 2)};
            gain.outputs = {port("out", 2)};
            gain.gain = kGain;
            modules.add(id, gain);
            definition.nodes.push_back(node(id));
            definition.cables.push_back(cable(previous, "out", id, "in"));
            previous = id;
        }
        TestModuleSetup output;
        output.inputs = {port("in", 2)};
        output.hostRole = HostRole::WritesHostOutput;
        modules.add("out", output);
        definition.nodes.push_back(node("out", "output"));
        definition.cables.push_back(cable(previous, "out", "out", "in"));
        for (int c = 0; c < 2; ++c) {
            hostIn[c].assign(kMaxBlock, 0.25f);
            hostOut[c].assign(kMaxBlock, 0.0f);
            inPointers[c] = hostIn[c].data();
            outPointers[c] = hostOut[c].data();
        }
    }

    std::unique_ptr<PreparedGraph> compile() {
        return compileGraph(definition, {48000.0, kMaxBlock}, modules.factory());
    }

    BusSpan input() const { return {inPointers, 2}; }
    BusSpan output() const { return {outPointers, 2}; }

    TestModuleFactory modules;
    GraphDefinition definition;
    std::vector<float> hostIn[2];
    std::vector<float> hostOut[2];
    float* inPointers[2] = {};
    float* outPointers[2] = {};
};

// The default patch has one gain stage; the long chain fills the node limit.
int stagesOf(const benchmark::State& state) {
    return static_cast<int>(state.range(0));
}

void engineBlock(benchmark::State& state) {
    GainChain chain(stagesOf(state));
    const auto frames = static_cast<std::uint32_t>(state.range(1));
    AudioEngine engine;
    engine.publishGraph(chain.compile());
    const BusSpan in = chain.input();
    const BusSpan out = chain.output();
    for (auto _ : state) {
        engine.process(frames, in, out, TransportInfo{}, nullptr, 0);
        benchmark::DoNotOptimize(chain.hostOut[0].data());
    }
}

// The same arithmetic by hand, on the compiled graph's own port buffers.
void handWrittenBlock(benchmark::State& state) {
    GainChain chain(stagesOf(state));
    const auto frames = static_cast<std::uint32_t>(state.range(1));
    auto graph = chain.compile();
    std::vector<PreparedNode>& nodes = graph->state().nodes;
    for (auto _ : state) {
        for (int c = 0; c < 2; ++c) {
            const float* previous = chain.hostIn[c].data();
            for (std::size_t n = 1; n + 1 < nodes.size(); ++n) {
                float* out = nodes[n].outputBuses[0].channels[c];
                for (std::uint32_t i = 0; i < frames; ++i) {
                    out[i] = previous[i] * kGain;
                }
                previous = out;
            }
            std::copy_n(previous, frames, chain.hostOut[c].data());
        }
        benchmark::DoNotOptimize(chain.hostOut[0].data());
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

BENCHMARK(engineBlock)->ArgsProduct({{1, 126}, {64, 256, 4096}});
BENCHMARK(handWrittenBlock)->ArgsProduct({{1, 126}, {64, 256, 4096}});
BENCHMARK(compileLargestGraph)->Unit(benchmark::kMillisecond);
BENCHMARK(allocateLargestGraphBuffers)->Unit(benchmark::kMillisecond);

// Keeps each run's time per iteration so that main can print the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            times[run.benchmark_name()] = run.GetAdjustedRealTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }

    void printRatio(const std::string& ours, const std::string& baseline) const {
        const auto a = times.find(ours);
        const auto b = times.find(baseline);
        if (a != times.end() && b != times.end() && b->second > 0.0) {
            std::printf("ratio %-32s / %-40s = %.2f\n", ours.c_str(), baseline.c_str(),
                        a->second / b->second);
        }
    }

    std::map<std::string, double> times;
};

} // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const char* stages : {"1", "126"}) {
        for (const char* frames : {"64", "256", "4096"}) {
            const std::string args = std::string("/") + stages + "/" + frames;
            reporter.printRatio("engineBlock" + args, "handWrittenBlock" + args);
        }
    }
    reporter.printRatio("compileLargestGraph", "allocateLargestGraphBuffers");
    benchmark::Shutdown();
    return 0;
}
