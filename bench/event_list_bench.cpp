// Filling one block's event list: the fixed insertion list against a vector sorted afterwards.
#include "engine/event_list.hpp"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <vector>

namespace {

using velkaphon::rack::EventList;
using velkaphon::rack::RackEvent;

std::vector<RackEvent> blockEvents(std::size_t count) {
    std::mt19937 random(7);
    std::uniform_int_distribution<std::uint32_t> offset(0, 511);
    std::vector<RackEvent> events(count);
    for (RackEvent& event : events) {
        event.sampleOffset = offset(random);
    }
    return events;
}

void fixedEventList(benchmark::State& state) {
    const auto events = blockEvents(static_cast<std::size_t>(state.range(0)));
    EventList list;
    for (auto _ : state) {
        list.clear();
        for (const RackEvent& event : events) {
            list.push(event);
        }
        benchmark::DoNotOptimize(list.events.data());
    }
}

void sortedVectorBaseline(benchmark::State& state) {
    const auto events = blockEvents(static_cast<std::size_t>(state.range(0)));
    std::vector<RackEvent> list;
    list.reserve(256);
    for (auto _ : state) {
        list.clear();
        list.insert(list.end(), events.begin(), events.end());
        std::stable_sort(list.begin(), list.end(), [](const RackEvent& a, const RackEvent& b) {
            return a.sampleOffset < b.sampleOffset;
        });
        benchmark::DoNotOptimize(list.data());
    }
}

BENCHMARK(fixedEventList)->Arg(8)->Arg(64)->Arg(256);
BENCHMARK(sortedVectorBaseline)->Arg(8)->Arg(64)->Arg(256);

} // namespace
