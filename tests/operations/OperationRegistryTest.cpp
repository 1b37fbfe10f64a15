#include <memory>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "operations/IInquiry.h"
#include "operations/OperationRegistry.h"

namespace velk::core::operations {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

class NamedInquiry : public IInquiry {
public:
    explicit NamedInquiry(std::string name = "first") : name_(std::move(name)) {}

    std::string typeId() const override { return "ignored"; }
    std::string displayName() const override { return name_; }
    std::string featureGroupId() const override { return "group"; }
    std::string featureGroupName() const override { return "Група"; }
    std::int32_t backendKind() const override { return 1; }
    std::int32_t flowKind() const override { return 3; }
    std::string description() const override { return {}; }
    bool requiresSubmissionToken() const override { return false; }
    ResultSchema resultSchema() const override { return {}; }
    std::vector<ParamSpec> params() const override { return {}; }
    InquiryResult run(infra::portal::NapSession*, const ParamMap&) const override { return {}; }

private:
    std::string name_;
};

OperationFactory factoryNamed(std::string name) {
    return [name] { return std::make_unique<NamedInquiry>(name); };
}

std::string registerCapturingLog(OperationRegistry& registry, std::string typeId, OperationFactory factory,
                                 bool& accepted) {
    ::testing::internal::CaptureStderr();
    accepted = registry.registerOperation(std::move(typeId), std::move(factory));
    return ::testing::internal::GetCapturedStderr();
}

TEST(OperationRegistry, StoresTheDescriptorReadFromAProbe) {
    OperationRegistry registry;
    bool accepted = false;
    const std::string log = registerCapturingLog(registry, "probe_me", factoryNamed("Име"), accepted);

    EXPECT_TRUE(accepted);
    EXPECT_THAT(log, HasSubstr("[INFO ] OperationRegistry: registered 'probe_me'"));
    const std::vector<OperationDescriptor> listed = registry.list();
    ASSERT_EQ(listed.size(), 1u);
    EXPECT_EQ(listed[0].typeId, "probe_me");  // the registered key, not the probe's own answer
    EXPECT_EQ(listed[0].displayName, "Име");
    EXPECT_EQ(listed[0].category, "Справки");
    EXPECT_EQ(listed[0].featureGroupId, "group");
    EXPECT_EQ(listed[0].featureGroupName, "Група");
    EXPECT_EQ(listed[0].kind, 1);
    EXPECT_FALSE(listed[0].requiresSubmissionToken);

    // Looked up by the key too, never by what the probe calls itself.
    const OperationDescriptor* found = registry.find("probe_me");
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(found->typeId, "probe_me");
    EXPECT_EQ(found->displayName, "Име");
    EXPECT_EQ(registry.find("ignored"), nullptr);
    EXPECT_EQ(registry.find(""), nullptr);
}

TEST(OperationRegistry, RefusesBadRegistrationsWithAWarning) {
    struct Case {
        const char* typeId;
        OperationFactory factory;
        const char* line;
    };
    const std::vector<Case> cases = {
        {"", factoryNamed("x"), "OperationRegistry: ignored registration with empty typeId or null factory"},
        {"no_factory", OperationFactory{},
         "OperationRegistry: ignored registration with empty typeId or null factory"},
        {"null_made", [] { return std::unique_ptr<IVelkOperation>(); },
         "OperationRegistry: factory for 'null_made' returned null"},
        {"taken", factoryNamed("second"), "OperationRegistry: duplicate registration for 'taken' ignored"},
    };
    OperationRegistry registry;
    ASSERT_TRUE(registry.registerOperation("taken", factoryNamed("first")));

    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        bool accepted = true;
        const std::string log = registerCapturingLog(registry, c.typeId, c.factory, accepted);
        EXPECT_FALSE(accepted);
        EXPECT_THAT(log, HasSubstr(std::string("[WARN ] ") + c.line));
    }
    ASSERT_EQ(registry.list().size(), 1u);
    EXPECT_EQ(registry.create("taken")->displayName(), "first");
}

TEST(OperationRegistry, DuplicateNeverCallsTheNewFactory) {
    OperationRegistry registry;
    ASSERT_TRUE(registry.registerOperation("taken", factoryNamed("first")));
    int calls = 0;
    bool accepted = true;
    registerCapturingLog(
        registry, "taken",
        [&calls] {
            ++calls;
            return std::make_unique<NamedInquiry>();
        },
        accepted);
    EXPECT_FALSE(accepted);
    EXPECT_EQ(calls, 0);
}

TEST(OperationRegistry, CreateMakesANewObjectPerCallAndNothingForUnknownIds) {
    OperationRegistry registry;
    ASSERT_TRUE(registry.registerOperation("known", factoryNamed("x")));

    const auto first = registry.create("known");
    const auto second = registry.create("known");
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_NE(first.get(), second.get());

    ::testing::internal::CaptureStderr();
    EXPECT_EQ(registry.create(""), nullptr);
    EXPECT_EQ(registry.create("unknown"), nullptr);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

TEST(OperationRegistry, ListsInByteOrder) {
    OperationRegistry registry;
    for (const char* id : {"vat_result", "vat", "Zeta", "dec1_6_result", "dec1_6", "\xD0\xB0", "dec16"}) {
        ASSERT_TRUE(registry.registerOperation(id, factoryNamed(id)));
    }
    std::vector<std::string> ids;
    for (const OperationDescriptor& descriptor : registry.list()) {
        ids.push_back(descriptor.typeId);
    }
    EXPECT_THAT(ids,
                ElementsAre("Zeta", "dec16", "dec1_6", "dec1_6_result", "vat", "vat_result", "\xD0\xB0"));
}

}  // namespace
}  // namespace velk::core::operations
