#include "abi/vst3/base.hpp"
#include "abi/vst3/component.hpp"
#include "abi/vst3/controller.hpp"
#include "abi/vst3/factory.hpp"
#include "abi/vst3/host.hpp"
#include "abi/vst3/processor.hpp"
#include "abi/vst3/view.hpp"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace velkaphon::rack::vst3 {
namespace {

std::string hexOf(const Uid& uid) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    for (const std::uint8_t byte : uid) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0F];
    }
    return text;
}

struct KnownIid {
    const char* name;
    Uid iid;
    // The bytes in memory: COM's order on Windows, the words big-endian elsewhere.
    const char* comBytes;
    const char* portableBytes;
};

// From the published identifiers, written out byte by byte.
const KnownIid kKnownIids[] = {
    {"FUnknown", FUnknown::iid, "0000000000000000C000000000000046",
     "0000000000000000C000000000000046"},
    {"IPluginBase", IPluginBase::iid, "DB8D88226E15AE458358B34808190625",
     "22888DDB156E45AE8358B34808190625"},
    {"IBStream", IBStream::iid, "A26EBFC3993052479B6BF9901EE33E9B",
     "C3BF6EA2309947529B6BF9901EE33E9B"},
    {"IPluginFactory", IPluginFactory::iid, "1C814D7A11521F4AAED9D2EE0B43BF9F",
     "7A4D811C52114A1FAED9D2EE0B43BF9F"},
    {"IPluginFactory2", IPluginFactory2::iid, "50B607004BF20B4CA464EDB9F00B2ABB",
     "0007B650F24B4C0BA464EDB9F00B2ABB"},
    {"IPluginFactory3", IPluginFactory3::iid, "ABA2554523C1574E9B12291036878931",
     "4555A2ABC1234E579B12291036878931"},
    {"IComponent", IComponent::iid, "31FF31E8D5F20143928EBBEE25697802",
     "E831FF31F2D54301928EBBEE25697802"},
    {"IAttributeList", IAttributeList::iid, "EB0A5F1E7FCC3345A254401138AD5EE4",
     "1E5F0AEBCC7F4533A254401138AD5EE4"},
    {"IMessage", IMessage::iid, "3B036F93C0C6DB47BB0882F813C1E613",
     "936F033BC6C047DBBB0882F813C1E613"},
    {"IConnectionPoint", IConnectionPoint::iid, "6F15A4706E6E2640989148BFAA60D8D1",
     "70A4156F6E6E4026989148BFAA60D8D1"},
    {"IParamValueQueue", IParamValueQueue::iid, "183A260107ED6F4F98C9D3564686F9BA",
     "01263A18ED074F6F98C9D3564686F9BA"},
    {"IParameterChanges", IParameterChanges::iid, "639677A4B60B564AB44384A8466FEB9D",
     "A47796630BB64A56B44384A8466FEB9D"},
    {"IEventList", IEventList::iid, "14422C3A6334FE49B2C4F397B9695A44",
     "3A2C4214346349FEB2C4F397B9695A44"},
    {"IAudioProcessor", IAudioProcessor::iid, "993F0442DAB73C45A569E79D9AAEC33D",
     "42043F99B7DA453CA569E79D9AAEC33D"},
    {"IProcessContextRequirements", IProcessContextRequirements::iid,
     "0343652A76EF3D4E95B5FE83730EF6D0", "2A654303EF764E3D95B5FE83730EF6D0"},
    {"IComponentHandler", IComponentHandler::iid, "A3BEA093D00BDB458E890B0CC1E46AC6",
     "93A0BEA30BD045DB8E890B0CC1E46AC6"},
    {"IEditController", IEditController::iid, "E3BBD7DC42778D44A874AACC979C759E",
     "DCD7BBE37742448DA874AACC979C759E"},
    {"IPlugView", IPlugView::iid, "0725C35B60D0EA49A6151B522B755B29",
     "5BC32507D06049EAA6151B522B755B29"},
    {"IPlugFrame", IPlugFrame::iid, "01AF7F36A9AF93468D4DA2A0ED0882A3",
     "367FAF01AFA946938D4DA2A0ED0882A3"},
    {"IHostApplication", IHostApplication::iid, "CC95E5582DDB69498B6AAF8C36A664E5",
     "58E595CCDB2D49698B6AAF8C36A664E5"},
    {"IPlugInterfaceSupport", IPlugInterfaceSupport::iid, "9E8BB54FAA9E0F4EAB361C1CCCB56FEA",
     "4FB58B9E9EAA4E0FAB361C1CCCB56FEA"},
};

TEST(Vst3InterfaceIds, EveryIdentifierHasThePublishedBytesInThisPlatformsOrder) {
    for (const KnownIid& known : kKnownIids) {
#ifdef _WIN32
        EXPECT_EQ(hexOf(known.iid), known.comBytes) << known.name;
#else
        EXPECT_EQ(hexOf(known.iid), known.portableBytes) << known.name;
#endif
    }
}

TEST(Vst3InterfaceIds, NoTwoInterfacesShareAnIdentifier) {
    std::set<Uid> seen;
    for (const KnownIid& known : kKnownIids) {
        EXPECT_TRUE(seen.insert(known.iid).second) << known.name;
    }
}

TEST(Vst3InterfaceIds, BothByteOrdersAreAvailableOnEveryPlatform) {
    // The rack's own class identifier, 56454C4B-4150484F-4E524143-4B000101.
    EXPECT_EQ(hexOf(makeComUid(0x56454C4B, 0x4150484F, 0x4E524143, 0x4B000101)),
              "4B4C455650414F48"
              "4E5241434B000101");
    EXPECT_EQ(hexOf(makePortableUid(0x56454C4B, 0x4150484F, 0x4E524143, 0x4B000101)),
              "56454C4B4150484F4E5241434B000101");
}

TEST(Vst3InterfaceIds, ComparisonTakesAllSixteenBytesAndRefusesNull) {
    Uid almost = IComponent::iid;
    EXPECT_TRUE(sameUid(tuidOf(almost), IComponent::iid));
    almost[15] ^= 1;
    EXPECT_FALSE(sameUid(tuidOf(almost), IComponent::iid));
    EXPECT_FALSE(sameUid(nullptr, IComponent::iid));
    EXPECT_EQ(uidFrom(tuidOf(IEditController::iid)), IEditController::iid);
}

TEST(Vst3ResultCodes, FollowThePlatformsConvention) {
#ifdef _WIN32
    EXPECT_EQ(static_cast<std::uint32_t>(kNoInterface), 0x80004002u);
    EXPECT_EQ(static_cast<std::uint32_t>(kInvalidArgument), 0x80070057u);
    EXPECT_EQ(static_cast<std::uint32_t>(kNotImplemented), 0x80004001u);
    EXPECT_EQ(static_cast<std::uint32_t>(kInternalError), 0x80004005u);
    EXPECT_EQ(static_cast<std::uint32_t>(kNotInitialized), 0x8000FFFFu);
    EXPECT_EQ(static_cast<std::uint32_t>(kOutOfMemory), 0x8007000Eu);
#else
    EXPECT_EQ(kNoInterface, -1);
    EXPECT_EQ(kInvalidArgument, 2);
    EXPECT_EQ(kNotImplemented, 3);
    EXPECT_EQ(kInternalError, 4);
    EXPECT_EQ(kNotInitialized, 5);
    EXPECT_EQ(kOutOfMemory, 6);
#endif
    EXPECT_EQ(kResultOk, 0);
    EXPECT_EQ(kResultTrue, 0);
    EXPECT_EQ(kResultFalse, 1);
}

} // namespace
} // namespace velkaphon::rack::vst3
