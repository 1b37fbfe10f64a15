#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "operations/IInquiry.h"
#include "operations/ISubmission.h"
#include "operations/OperationRegistry.h"

namespace velk::test {

// What a fake operation answers; every fake is built from one of these.
struct FakeAnswers {
    std::string displayName = "Фалшива операция";
    std::string groupId = "group";
    std::string groupName = "Група";
    std::string description = "Описание.";
    bool requiresToken = false;
    core::operations::ResultSchema schema;
    std::vector<core::operations::ParamSpec> params;
    // Empty: the interface's own demo fixture.
    std::optional<core::operations::InquiryResult> inquiryFixture;
    std::optional<core::operations::SubmissionResult> submissionFixture;
    bool fixtureThrows = false;
    bool schemaThrows = false;
    // Only for BareOperation, which implements neither interface.
    std::int32_t kind = 1;
};

// The parts every fake shares, answered from FakeAnswers.
template <typename Base>
class FakeBase : public Base {
public:
    explicit FakeBase(FakeAnswers answers) : answers_(std::move(answers)) {}

    std::string typeId() const override { return "fake"; }
    std::string displayName() const override { return answers_.displayName; }
    std::string featureGroupId() const override { return answers_.groupId; }
    std::string featureGroupName() const override { return answers_.groupName; }
    std::int32_t backendKind() const override { return 1; }
    std::int32_t flowKind() const override { return 1; }
    std::string description() const override { return answers_.description; }
    bool requiresSubmissionToken() const override { return answers_.requiresToken; }
    core::operations::ResultSchema resultSchema() const override {
        if (answers_.schemaThrows) {
            throw std::runtime_error("schema broke");
        }
        return answers_.schema;
    }

protected:
    void throwIfAsked() const {
        if (answers_.fixtureThrows) {
            throw std::runtime_error("fixture broke");
        }
    }

    FakeAnswers answers_;
};

class FakeInquiry : public FakeBase<core::operations::IInquiry> {
public:
    using FakeBase::FakeBase;

    std::vector<core::operations::ParamSpec> params() const override { return answers_.params; }
    core::operations::InquiryResult run(core::infra::portal::NapSession*,
                                        const core::operations::ParamMap&) const override {
        return {};
    }
    core::operations::InquiryResult testFixture(const core::operations::ParamMap& params) const override {
        throwIfAsked();
        return answers_.inquiryFixture ? *answers_.inquiryFixture : IInquiry::testFixture(params);
    }
};

class FakeSubmission : public FakeBase<core::operations::ISubmission> {
public:
    using FakeBase::FakeBase;

    std::vector<core::operations::ParamSpec> params() const override { return answers_.params; }
    core::operations::InputCheck validateInput(const std::string&) const override { return {true, {}}; }
    core::operations::SubmissionResult submit(core::infra::portal::NapSession*, const std::string&,
                                              const core::operations::ParamMap&) const override {
        return {};
    }
    core::operations::SubmissionResult testFixture(const core::operations::ParamMap& params) const override {
        throwIfAsked();
        return answers_.submissionFixture ? *answers_.submissionFixture : ISubmission::testFixture(params);
    }
    std::string documentTypeCode() const override { return "FAKE"; }
};

// An operation that is neither an inquiry nor a submission, whatever kind it claims.
class BareOperation : public FakeBase<core::operations::IVelkOperation> {
public:
    using FakeBase::FakeBase;

    std::int32_t kind() const override { return answers_.kind; }
    std::string category() const override { return "Други"; }
};

template <typename Op>
core::operations::OperationFactory fakeFactory(FakeAnswers answers = {}) {
    return [answers] { return std::make_unique<Op>(answers); };
}

// A factory that passes the registry's probe and makes nothing afterwards.
inline core::operations::OperationFactory vanishingFactory() {
    return [made = std::make_shared<bool>(false)]() -> std::unique_ptr<core::operations::IVelkOperation> {
        if (*made) {
            return nullptr;
        }
        *made = true;
        return std::make_unique<FakeInquiry>(FakeAnswers{});
    };
}

}  // namespace velk::test
