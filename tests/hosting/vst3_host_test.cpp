#include "hosting/vst3_host.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

namespace velkaphon::rack {
namespace {

using namespace vst3;
using VstHostImpl::Host;

// A host with three parameters: 10 and 20 editable, 30 read-only.
std::unique_ptr<Host> hostWithParameters() {
    auto host = std::make_unique<Host>();
    for (std::uint32_t id : {10u, 20u, 30u}) {
        HostedParameter parameter;
        parameter.id = id;
        host->parameters.push_back(parameter);
        host->parameterFlags.push_back(id == 30 ? ParameterInfo::kIsReadOnly
                                                : ParameterInfo::kCanAutomate);
    }
    host->parameterSlots = std::vector<ParameterSlot>(3);
    host->parameterValues.reset(3);
    indexVstParameters(*host);
    return host;
}

// The edits a block would take now, by parameter place.
std::map<std::size_t, double> takeEdits(Host& host) {
    std::map<std::size_t, double> edits;
    host.parameterValues.takeEdits([&](std::size_t index, double value) {
        edits[index] = value;
        return true;
    });
    return edits;
}

using Edits = std::map<std::size_t, double>;

TEST(Vst3Host, NamesItselfInTheWholeBuffer) {
    auto host = std::make_unique<Host>();
    String128 name;
    std::fill(std::begin(name), std::end(name), u'x');
    ASSERT_EQ(host->getName(name), kResultOk);
    EXPECT_EQ(std::u16string(name), u"VELKAPHON RACK");
    EXPECT_EQ(name[127], u'\0');
    EXPECT_EQ(host->getName(nullptr), kInvalidArgument);
}

TEST(Vst3Host, EverySideAnswersForEveryOther) {
    auto host = std::make_unique<Host>();
    IHostApplication* application = host.get();
    IComponentHandler* handler = host.get();
    IPlugFrame* frame = host.get();
    for (FUnknown* side : {static_cast<FUnknown*>(application), static_cast<FUnknown*>(handler),
                           static_cast<FUnknown*>(frame)}) {
        void* object = nullptr;
        EXPECT_EQ(side->queryInterface(tuidOf(IComponentHandler::iid), nullptr), kInvalidArgument);
        ASSERT_EQ(side->queryInterface(tuidOf(IComponentHandler::iid), &object), kResultOk);
        EXPECT_EQ(object, handler);
        ASSERT_EQ(side->queryInterface(tuidOf(IPlugFrame::iid), &object), kResultOk);
        EXPECT_EQ(object, frame);
        ASSERT_EQ(side->queryInterface(tuidOf(IHostApplication::iid), &object), kResultOk);
        EXPECT_EQ(object, application);
        EXPECT_EQ(side->queryInterface(tuidOf(IPlugInterfaceSupport::iid), &object), kResultOk);
        EXPECT_EQ(side->queryInterface(tuidOf(IEditController::iid), &object), kNoInterface);
        EXPECT_EQ(object, nullptr);
        EXPECT_EQ(side->addRef(), 1u);
        EXPECT_EQ(side->release(), 1u);
    }
}

TEST(Vst3HostEdits, RefusedEditsChangeNothing) {
    auto host = hostWithParameters();
    EXPECT_EQ(host->performEdit(10, std::nan("")), kInvalidArgument);
    EXPECT_EQ(host->performEdit(10, std::numeric_limits<double>::infinity()), kInvalidArgument);
    EXPECT_EQ(host->performEdit(11, 0.5), kInvalidArgument);
    EXPECT_EQ(host->performEdit(30, 0.5), kInvalidArgument);
    EXPECT_EQ(takeEdits(*host), Edits{});
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(takeControllerValue(*host, i), std::nullopt);
        EXPECT_EQ(host->parameterValues.current(i), 0.0);
    }
    EXPECT_EQ(host->beginEdit(10), kResultOk);
    EXPECT_EQ(host->endEdit(10), kResultOk);
}

TEST(Vst3HostEdits, ControllerEditsGoToTheProcessorOnlyAndAreClamped) {
    auto host = hostWithParameters();
    EXPECT_EQ(host->performEdit(20, 1.5), kResultOk);
    EXPECT_EQ(takeControllerValue(*host, 1), std::nullopt);
    EXPECT_EQ(takeEdits(*host), (Edits{{1, 1.0}}));
    EXPECT_EQ(takeEdits(*host), Edits{});
    EXPECT_EQ(host->performEdit(20, -0.25), kResultOk);
    EXPECT_EQ(takeEdits(*host), (Edits{{1, 0.0}}));
}

TEST(Vst3HostEdits, RackEditsGoToBothSidesAndTheLastValueWins) {
    auto host = hostWithParameters();
    EXPECT_TRUE(queueParameterEdit(*host, 10, 0.25, false));
    EXPECT_TRUE(queueParameterEdit(*host, 10, 0.5, false));
    EXPECT_EQ(takeEdits(*host), (Edits{{0, 0.5}}));
    EXPECT_EQ(takeControllerValue(*host, 0), 0.5);
    EXPECT_FALSE(queueParameterEdit(*host, 30, 0.5, false));
}

TEST(Vst3HostEdits, TheFirstParameterWithTheIdTakesTheEdit) {
    auto host = hostWithParameters();
    host->parameters[2].id = 10;
    host->parameterFlags[2] = 0;
    indexVstParameters(*host);
    EXPECT_TRUE(queueParameterEdit(*host, 10, 0.75, true));
    EXPECT_EQ(takeEdits(*host), (Edits{{0, 0.75}}));
}

TEST(Vst3HostEdits, EveryParameterIsFoundByIdWhateverTheOrderOfIds) {
    auto host = hostWithParameters();
    for (std::uint32_t id : {5u, 40u, 1u}) {
        HostedParameter parameter;
        parameter.id = id;
        host->parameters.push_back(parameter);
        host->parameterFlags.push_back(0);
    }
    host->parameterSlots = std::vector<ParameterSlot>(host->parameters.size());
    host->parameterValues.reset(host->parameters.size());
    indexVstParameters(*host);
    const std::vector<std::pair<std::uint32_t, std::optional<std::size_t>>> cases = {
        {10, 0},           {20, 1}, {30, 2},           {5, 3},
        {40, 4},           {1, 5},  {0, std::nullopt}, {11, std::nullopt},
        {41, std::nullopt}};
    for (const auto& [id, index] : cases) {
        EXPECT_EQ(vstParameterIndex(*host, id), index) << id;
    }
}

TEST(Vst3HostEdits, RestartRequestsAccumulate) {
    auto host = std::make_unique<Host>();
    EXPECT_EQ(host->restartComponent(kLatencyChanged), kResultOk);
    EXPECT_EQ(host->restartComponent(kParamValuesChanged), kResultOk);
    EXPECT_EQ(host->restartFlags.load(), std::uint32_t(kLatencyChanged | kParamValuesChanged));
}

// A view that records its sizes, and can ask its host for another resize from inside onSize.
class RecordingView final : public IPlugView {
public:
    tresult VELKAPHON_VST3_CALL queryInterface(const TUID, void**) override { return kNoInterface; }
    uint32 VELKAPHON_VST3_CALL addRef() override { return 1; }
    uint32 VELKAPHON_VST3_CALL release() override { return 1; }
    tresult VELKAPHON_VST3_CALL isPlatformTypeSupported(FIDString) override { return kResultOk; }
    tresult VELKAPHON_VST3_CALL attached(void*, FIDString) override { return kResultOk; }
    tresult VELKAPHON_VST3_CALL removed() override { return kResultOk; }
    tresult VELKAPHON_VST3_CALL onWheel(float) override { return kResultFalse; }
    tresult VELKAPHON_VST3_CALL onKeyDown(char16, int16, int16) override { return kResultFalse; }
    tresult VELKAPHON_VST3_CALL onKeyUp(char16, int16, int16) override { return kResultFalse; }
    tresult VELKAPHON_VST3_CALL getSize(ViewRect*) override { return kResultOk; }
    tresult VELKAPHON_VST3_CALL onSize(ViewRect* newSize) override {
        ++sizes;
        lastWidth = newSize->getWidth();
        if (throwInOnSize) {
            throw std::runtime_error("view failed");
        }
        if (nestedResult != nullptr) {
            ViewRect nested{0, 0, 10, 10};
            *nestedResult = frame->resizeView(this, &nested);
        }
        return kResultOk;
    }
    tresult VELKAPHON_VST3_CALL onFocus(TBool) override { return kResultFalse; }
    tresult VELKAPHON_VST3_CALL setFrame(IPlugFrame* newFrame) override {
        frame = newFrame;
        return kResultOk;
    }
    tresult VELKAPHON_VST3_CALL canResize() override { return kResultTrue; }
    tresult VELKAPHON_VST3_CALL checkSizeConstraint(ViewRect*) override { return kResultOk; }

    IPlugFrame* frame = nullptr;
    int sizes = 0;
    int32 lastWidth = 0;
    bool throwInOnSize = false;
    tresult* nestedResult = nullptr;
};

struct EditorHost {
    EditorHost() : host(std::make_unique<Host>()) {
        host->view = InterfacePtr<IPlugView>::adopt(&view);
        host->editorThread = std::this_thread::get_id();
        view.setFrame(host.get());
    }
    ~EditorHost() { host->view.reset(); }

    RecordingView view;
    std::unique_ptr<Host> host;
};

TEST(Vst3HostResize, TheEditorsViewMayResizeWithinBounds) {
    EditorHost editor;
    ViewRect size{10, 10, 650, 490};
    EXPECT_EQ(editor.host->resizeView(&editor.view, &size), kResultOk);
    EXPECT_EQ(editor.view.lastWidth, 640);
    ViewRect largest{0, 0, 8192, 8192};
    EXPECT_EQ(editor.host->resizeView(&editor.view, &largest), kResultOk);
    EXPECT_EQ(editor.view.sizes, 2);
}

TEST(Vst3HostResize, RefusesNullStrangersOtherThreadsAndBadSizes) {
    EditorHost editor;
    RecordingView stranger;
    ViewRect size{0, 0, 100, 100};
    EXPECT_EQ(editor.host->resizeView(&editor.view, nullptr), kInvalidArgument);
    EXPECT_EQ(editor.host->resizeView(nullptr, &size), kInvalidArgument);
    EXPECT_EQ(editor.host->resizeView(&stranger, &size), kInvalidArgument);

    tresult fromOtherThread = kResultOk;
    std::thread([&] { fromOtherThread = editor.host->resizeView(&editor.view, &size); }).join();
    EXPECT_EQ(fromOtherThread, kInvalidArgument);

    for (ViewRect bad :
         {ViewRect{0, 0, 0, 100}, ViewRect{0, 0, 9000, 100}, ViewRect{0, 0, 100, 8193},
          ViewRect{50, 0, 10, 100},
          ViewRect{std::numeric_limits<int32>::min(), 0, std::numeric_limits<int32>::max(), 100}}) {
        EXPECT_EQ(editor.host->resizeView(&editor.view, &bad), kInvalidArgument);
    }
    EXPECT_EQ(editor.view.sizes, 0);
}

TEST(Vst3HostResize, AResizeFromInsideOnSizeIsRefused) {
    EditorHost editor;
    tresult nested = kResultOk;
    editor.view.nestedResult = &nested;
    ViewRect size{0, 0, 300, 200};
    EXPECT_EQ(editor.host->resizeView(&editor.view, &size), kResultOk);
    EXPECT_EQ(nested, kResultFalse);
    EXPECT_EQ(editor.view.sizes, 1);
    EXPECT_FALSE(editor.host->resizing);
}

TEST(Vst3HostResize, AThrowingOnSizeIsContainedAndTheGuardCleared) {
    EditorHost editor;
    editor.view.throwInOnSize = true;
    ViewRect size{0, 0, 300, 200};
    EXPECT_EQ(editor.host->resizeView(&editor.view, &size), kResultFalse);
    EXPECT_FALSE(editor.host->resizing);
    editor.view.throwInOnSize = false;
    EXPECT_EQ(editor.host->resizeView(&editor.view, &size), kResultOk);
}

} // namespace
} // namespace velkaphon::rack
