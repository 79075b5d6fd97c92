#pragma once

// The objects through which one block's parameter changes and events reach a plug-in.
// [audio] None of them allocates, locks or throws.

#include "abi/vst3/processor.hpp"
#include "abi/vst3/uncounted_object.hpp"
#include "hosting/parameter_index.hpp"

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

namespace velkaphon::rack {

// One parameter's change in a block: a single point. A processor that adds points keeps only
// its last one, which is all the rack reads back.
class ValueQueue final : public vst3::UncountedObject<vst3::IParamValueQueue> {
public:
    // Out of line: inlined into the 4096-entry array of Changes, g++ unrolls every entry's
    // construction and takes minutes to compile each file that makes a Changes.
    ValueQueue() noexcept;

    void set(vst3::ParamID id, vst3::ParamValue value, vst3::int32 sampleOffset) {
        id_ = id;
        value_ = value;
        sampleOffset_ = sampleOffset;
        pointCount_ = 1;
    }

    // Empty, for the processor to add its point to; place is the parameter's place in the list,
    // found once for the block.
    void start(vst3::ParamID id, std::optional<std::size_t> place) {
        id_ = id;
        place_ = place;
        pointCount_ = 0;
    }
    std::optional<std::size_t> place() const noexcept { return place_; }

    vst3::ParamID VELKAPHON_VST3_CALL getParameterId() override { return id_; }
    vst3::int32 VELKAPHON_VST3_CALL getPointCount() override { return pointCount_; }
    vst3::tresult VELKAPHON_VST3_CALL getPoint(vst3::int32 index, vst3::int32& sampleOffset,
                                               vst3::ParamValue& value) override;
    vst3::tresult VELKAPHON_VST3_CALL addPoint(vst3::int32 sampleOffset, vst3::ParamValue value,
                                               vst3::int32& index) override;

private:
    vst3::ParamID id_ = 0;
    vst3::ParamValue value_ = 0.0;
    vst3::int32 sampleOffset_ = 0;
    vst3::int32 pointCount_ = 1;
    std::optional<std::size_t> place_;
};

// A block's parameter changes, to the processor or from it: one queue a parameter, at most one
// a parameter of the plug-in's bounded list.
class Changes final : public vst3::UncountedObject<vst3::IParameterChanges> {
public:
    static constexpr vst3::int32 kCapacity = 4096;

    // [control] The parameters whose queues addParameterData finds by id; an id none of them has
    // is looked for among the block's queues.
    void index(const ParameterIndex& parameters);
    // [audio] Empty, for the next block.
    void clear() noexcept {
        count = 0;
        ++block_;
    }

    vst3::int32 VELKAPHON_VST3_CALL getParameterCount() override { return count; }
    vst3::IParamValueQueue* VELKAPHON_VST3_CALL getParameterData(vst3::int32 index) override;
    // The parameter's queue of this block, started when it has none; none when all are taken.
    // Found through the index: a processor may report every parameter in every block.
    vst3::IParamValueQueue* VELKAPHON_VST3_CALL addParameterData(const vst3::ParamID& id,
                                                                 vst3::int32& index) override;

    std::array<ValueQueue, kCapacity> queues;
    vst3::int32 count = 0;

private:
    // A parameter's queue, valid in the block it was started in.
    struct Started {
        std::uint64_t block = 0;
        vst3::int32 queue = 0;
    };

    // [any] The parameter's place in the list, none for an id none has.
    std::optional<std::size_t> placeOf(vst3::ParamID id) const noexcept;

    const ParameterIndex* parameters_ = nullptr;
    // One a parameter, in list order.
    std::vector<Started> started_;
    // Never 0, so that no parameter's queue is started before the first block.
    std::uint64_t block_ = 1;
};

// A block's events, in and out.
class VstEvents final : public vst3::UncountedObject<vst3::IEventList> {
public:
    static constexpr vst3::int32 kCapacity = 256;

    vst3::int32 VELKAPHON_VST3_CALL getEventCount() override { return count; }
    vst3::tresult VELKAPHON_VST3_CALL getEvent(vst3::int32 index, vst3::Event& event) override;
    vst3::tresult VELKAPHON_VST3_CALL addEvent(vst3::Event& event) override;

    std::array<vst3::Event, kCapacity> events{};
    vst3::int32 count = 0;
};

} // namespace velkaphon::rack
