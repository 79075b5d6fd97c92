#include "tests/hosting/clap_module_test_support.hpp"
#include "tests/hosting/hosted_block.hpp"
#include "tests/hosting/vst_module_test_support.hpp"
#include "tests/support/allocation_counter.hpp"

#include <gtest/gtest.h>

namespace velkaphon::rack {
namespace {

using namespace testing;

std::vector<RackEvent> someNotes() {
    std::vector<RackEvent> events(3);
    events[0] = {RackEventKind::NoteOn, 0, 0x90, 60, 100};
    events[1] = {RackEventKind::Start, 1, 0, 0, 0};
    events[2] = {RackEventKind::Midi, 2, 0x80, 60, 0};
    return events;
}

// Blocks with audio, notes, transport and parameter edits, in each precision.
void expectNoAllocation(HostedModule& module, std::uint32_t parameterId) {
    HostedBlock block({2}, {2}, 256);
    block.input(0, 0).assign(256, 0.25f);
    block.setEvents(someNotes());
    block.context.transport = {4800, 128.0, true, false};
    AllocationCounter counter;
    for (int i = 0; i < 8; ++i) {
        module.setControl(parameterId, 0.1 * i);
        block.outputEvents.clear();
        module.process(block.context);
    }
    EXPECT_EQ(counter.allocations(), 0u);
}

TEST(HostedModuleAllocation, AVstModuleProcessesWithoutAllocating) {
    HeldVstPlugin plugin;
    for (auto audioClass : {Vst3TestClass::EventEcho, Vst3TestClass::Only64Bit,
                            Vst3TestClass::SeparateController, Vst3TestClass::Programs}) {
        auto module = preparedVstModule(vstConfiguration(audioClass));
        expectNoAllocation(*module, 1000);
    }
    EXPECT_GT(plugin.probe().processCalls.load(), 0);
}

TEST(HostedModuleAllocation, AClapModuleProcessesWithoutAllocating) {
    for (const char* id :
         {"velkaphon.test.gain", "velkaphon.test.note-echo", "velkaphon.test.midi-echo"}) {
        auto module = makeClapModule(clapConfiguration(id));
        // The first block starts processing, which the plug-in may allocate for.
        HostedBlock first({2}, {2}, 16);
        module->process(first.context);
        expectNoAllocation(*module, 100);
    }
}

} // namespace
} // namespace velkaphon::rack
