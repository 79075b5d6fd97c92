#pragma once

// Prints ratios between benchmarks of one run as the median over the repetitions with their
// range, pairing the repetitions by index. Repetitions are interleaved at random, so a pair ran
// close together in time and a burst of load on the machine falls on both sides.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace velkaphon::rack::bench {

class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.run_type != Run::RT_Iteration || run.error_occurred) {
                continue;
            }
            const std::string& args = run.run_name.args;
            auto& times = times_[run.run_name.function_name + (args.empty() ? "" : "/" + args)];
            const auto index =
                static_cast<std::size_t>(std::max<std::int64_t>(0, run.repetition_index));
            if (times.size() <= index) {
                times.resize(index + 1, 0.0);
            }
            times[index] = run.GetAdjustedRealTime();
        }
    }

    // numerator / denominator per repetition, divided by work when the numerator does that many
    // times the denominator's work; label says what the number means.
    void printRatio(const std::string& label, const std::string& numerator,
                    const std::string& denominator, double work = 1.0) const {
        const auto a = times_.find(numerator);
        const auto b = times_.find(denominator);
        if (a == times_.end() || b == times_.end()) {
            return;
        }
        std::vector<double> ratios;
        for (std::size_t i = 0; i < std::min(a->second.size(), b->second.size()); ++i) {
            if (a->second[i] > 0.0 && b->second[i] > 0.0) {
                ratios.push_back(a->second[i] / b->second[i] / work);
            }
        }
        if (ratios.empty()) {
            return;
        }
        std::sort(ratios.begin(), ratios.end());
        const std::size_t n = ratios.size();
        const double median =
            n % 2 == 1 ? ratios[n / 2] : (ratios[n / 2 - 1] + ratios[n / 2]) / 2.0;
        std::printf("%-56s %6.2f  (range %.2f-%.2f over %zu repetitions)\n", label.c_str(), median,
                    ratios.front(), ratios.back(), n);
    }

private:
    std::map<std::string, std::vector<double>> times_;
};

// Runs every benchmark with 5 interleaved repetitions unless the command line says otherwise.
inline int runWithRatios(int argc, char** argv, void (*printRatios)(const RatioReporter&)) {
    std::vector<char*> arguments(argv, argv + argc);
    static char repetitions[] = "--benchmark_repetitions=5";
    static char interleaving[] = "--benchmark_enable_random_interleaving=true";
    arguments.insert(arguments.begin() + 1, {repetitions, interleaving});
    int count = static_cast<int>(arguments.size());
    benchmark::Initialize(&count, arguments.data());
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    printRatios(reporter);
    benchmark::Shutdown();
    return 0;
}

} // namespace velkaphon::rack::bench
