#include "abi/vst3/component.hpp"
#include "abi/vst3/controller.hpp"
#include "abi/vst3/host_application.hpp"
#include "abi/vst3/interface_ptr.hpp"

#include <gtest/gtest.h>

#include <cstring>

namespace velkaphon::rack::vst3 {
namespace {

class NamedHost final : public HostApplication {
public:
    tresult VELKAPHON_VST3_CALL getName(String128 name) override {
        name[0] = u'\0';
        return kResultOk;
    }
    uint32 VELKAPHON_VST3_CALL addRef() override { return 1; }
    uint32 VELKAPHON_VST3_CALL release() override { return 1; }
};

char* mutableTuid(const Uid& uid, Uid& storage) {
    storage = uid;
    return reinterpret_cast<char*>(storage.data());
}

InterfacePtr<IMessage> newMessage(NamedHost& host) {
    Uid cid;
    Uid iid;
    void* object = nullptr;
    EXPECT_EQ(host.createInstance(mutableTuid(IMessage::iid, cid), mutableTuid(IMessage::iid, iid),
                                  &object),
              kResultOk);
    return InterfacePtr<IMessage>::adopt(static_cast<IMessage*>(object));
}

TEST(Vst3HostApplication, AnswersItsInterfacesAndRefusesOthers) {
    NamedHost host;
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(host.queryInterface(tuidOf(IHostApplication::iid), nullptr), kInvalidArgument);
    ASSERT_EQ(host.queryInterface(tuidOf(IHostApplication::iid), &object), kResultOk);
    EXPECT_EQ(object, static_cast<IHostApplication*>(&host));
    ASSERT_EQ(host.queryInterface(tuidOf(FUnknown::iid), &object), kResultOk);
    EXPECT_EQ(object, static_cast<IHostApplication*>(&host));
    EXPECT_EQ(host.queryInterface(tuidOf(IComponent::iid), &object), kNoInterface);
    EXPECT_EQ(object, nullptr);

    ASSERT_EQ(host.queryInterface(tuidOf(IPlugInterfaceSupport::iid), &object), kResultOk);
    auto* support = static_cast<IPlugInterfaceSupport*>(object);
    EXPECT_EQ(support->isPlugInterfaceSupported(tuidOf(IEditController::iid)), kResultTrue);
    EXPECT_EQ(support->isPlugInterfaceSupported(tuidOf(IConnectionPoint::iid)), kResultTrue);
    EXPECT_EQ(support->isPlugInterfaceSupported(tuidOf(IHostApplication::iid)), kResultFalse);
}

TEST(Vst3HostApplication, MakesMessagesAndAttributeListsOnlyWhenClassAndInterfaceAgree) {
    NamedHost host;
    Uid cid;
    Uid iid;
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(host.createInstance(mutableTuid(IMessage::iid, cid),
                                  mutableTuid(IAttributeList::iid, iid), &object),
              kResultFalse);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(host.createInstance(mutableTuid(IMessage::iid, cid), mutableTuid(IMessage::iid, iid),
                                  nullptr),
              kInvalidArgument);
    ASSERT_EQ(host.createInstance(mutableTuid(IAttributeList::iid, cid),
                                  mutableTuid(IAttributeList::iid, iid), &object),
              kResultOk);
    auto list = InterfacePtr<IAttributeList>::adopt(static_cast<IAttributeList*>(object));
    EXPECT_EQ(list->setInt("n", 5), kResultOk);
}

TEST(Vst3HostMessage, CarriesItsIdAndTypedAttributes) {
    NamedHost host;
    auto message = newMessage(host);
    ASSERT_TRUE(message);
    EXPECT_EQ(message->getMessageID(), nullptr);
    message->setMessageID("meter");
    EXPECT_STREQ(message->getMessageID(), "meter");

    IAttributeList* attributes = message->getAttributes();
    ASSERT_NE(attributes, nullptr);
    EXPECT_EQ(message->getAttributes(), attributes);
    EXPECT_EQ(attributes->setInt("count", -7), kResultOk);
    EXPECT_EQ(attributes->setFloat("level", 0.25), kResultOk);
    EXPECT_EQ(attributes->setString("title", u"Gain"), kResultOk);
    const std::uint8_t blob[] = {1, 2, 3};
    EXPECT_EQ(attributes->setBinary("blob", blob, 3), kResultOk);

    int64 count = 0;
    EXPECT_EQ(attributes->getInt("count", count), kResultOk);
    EXPECT_EQ(count, -7);
    double level = 0;
    EXPECT_EQ(attributes->getFloat("level", level), kResultOk);
    EXPECT_EQ(level, 0.25);
    EXPECT_EQ(attributes->getFloat("count", level), kResultFalse);
    EXPECT_EQ(attributes->getInt("missing", count), kResultFalse);

    TChar title[3];
    EXPECT_EQ(attributes->getString("title", title, sizeof(title)), kResultOk);
    EXPECT_EQ(std::u16string(title), u"Ga");
    EXPECT_EQ(attributes->getString("title", title, 1), kInvalidArgument);

    const void* data = nullptr;
    uint32 size = 0;
    ASSERT_EQ(attributes->getBinary("blob", data, size), kResultOk);
    ASSERT_EQ(size, 3u);
    EXPECT_EQ(std::memcmp(data, blob, 3), 0);
    EXPECT_EQ(attributes->setBinary("empty", nullptr, 0), kResultOk);
    EXPECT_EQ(attributes->setBinary("bad", nullptr, 4), kInvalidArgument);
}

TEST(Vst3HostMessage, LivesUntilItsLastReferenceGoes) {
    NamedHost host;
    auto message = newMessage(host);
    void* again = nullptr;
    ASSERT_EQ(message->queryInterface(tuidOf(IMessage::iid), &again), kResultOk);
    EXPECT_EQ(again, message.get());
    EXPECT_EQ(message->release(), 1u);
    EXPECT_EQ(message->addRef(), 2u);
    EXPECT_EQ(message->release(), 1u);
    EXPECT_EQ(message->queryInterface(tuidOf(IAttributeList::iid), &again), kNoInterface);
    EXPECT_EQ(again, nullptr);
}

} // namespace
} // namespace velkaphon::rack::vst3
