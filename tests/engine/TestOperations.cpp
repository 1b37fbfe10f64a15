#include "engine/TestOperations.h"

#include <chrono>
#include <stdexcept>
#include <thread>

#include "infrastructure/portal/NapSession.h"
#include "operations/IInquiry.h"
#include "operations/ISubmission.h"
#include "operations/OperationRegistry.h"

namespace velk::test {

namespace {

// Long enough for any machine, short of ctest's own time-out.
constexpr std::chrono::seconds kGateDeadline{60};
constexpr std::chrono::milliseconds kOverlapWindow{1};

using namespace core::operations;
using core::infra::portal::NapSession;

template <typename Base>
class TestOperation : public Base {
public:
    explicit TestOperation(std::string typeId, bool requiresToken = false)
        : typeId_(std::move(typeId)), requiresToken_(requiresToken) {}

    std::string typeId() const override { return typeId_; }
    std::string displayName() const override { return "Тест " + typeId_; }
    std::string featureGroupId() const override { return "tests"; }
    std::string featureGroupName() const override { return "Тестове"; }
    std::int32_t backendKind() const override { return 0; }
    std::int32_t flowKind() const override { return 0; }
    std::string description() const override { return "Test operation."; }
    bool requiresSubmissionToken() const override { return requiresToken_; }
    ResultSchema resultSchema() const override { return {}; }
    std::vector<ParamSpec> params() const override {
        ParamSpec year{"year", "Година", ParamType::Year, true, std::string("2025"), {}, "Годината."};
        ParamSpec kind{"kind", "Вид", ParamType::Enum, false, std::nullopt, {"a", "b"}, ""};
        return {year, kind};
    }

private:
    std::string typeId_;
    bool requiresToken_;
};

std::string identityText(const NapSession& session) {
    const auto& id = session.identity();
    return id.identifier + "|" + std::to_string(id.identifierType) + "|" + id.certificateId + "|" + id.apiKey;
}

void record(const ParamMap& params, std::optional<std::string> filePath = std::nullopt) {
    auto& log = operationLog();
    std::lock_guard lock(log.mutex);
    log.lastParams = params;
    log.lastFilePath = std::move(filePath);
    ++log.runs;
}

class SessionEcho : public TestOperation<IInquiry> {
public:
    using TestOperation::TestOperation;
    InquiryResult run(NapSession* session, const ParamMap& params) const override {
        record(params);
        InquiryResult result;
        result.metadata["identity"] = identityText(*session);
        result.metadata["pin"] = session->pin();
        result.metadata["signer"] = session->signer() != nullptr ? "set" : "none";
        for (const auto& [name, value] : params) {
            result.metadata["param." + name] = value;
        }
        return result;
    }
};

class GateInquiry : public TestOperation<IInquiry> {
public:
    GateInquiry() : TestOperation(kGateOp) {}
    InquiryResult run(NapSession* session, const ParamMap& params) const override {
        record(params);
        gate().pass(identityText(*session), [session] { return identityText(*session); });
        InquiryResult result;
        result.metadata["identity"] = identityText(*session);
        return result;
    }
};

class ThrowingInquiry : public TestOperation<IInquiry> {
public:
    ThrowingInquiry() : TestOperation(kThrowsOp) {}
    InquiryResult run(NapSession*, const ParamMap&) const override { throw std::runtime_error("boom"); }
};

class BadTextInquiry : public TestOperation<IInquiry> {
public:
    BadTextInquiry() : TestOperation(kBadTextOp) {}
    InquiryResult run(NapSession*, const ParamMap&) const override {
        InquiryResult result;
        result.metadata["text"] = "\xC3\x28";
        return result;
    }
};

class BrokenDemoInquiry : public TestOperation<IInquiry> {
public:
    BrokenDemoInquiry() : TestOperation(kBrokenDemoOp) {}
    InquiryResult run(NapSession*, const ParamMap&) const override { return {}; }
    InquiryResult testFixture(const ParamMap&) const override { throw std::runtime_error("no demo"); }
};

class Filing : public TestOperation<ISubmission> {
public:
    // The one needing a path also needs a submission token.
    Filing(std::string typeId, bool requiresPath)
        : TestOperation(std::move(typeId), requiresPath), requiresPath_(requiresPath) {}
    bool requiresFilePath() const override { return requiresPath_; }
    std::int32_t inputKind() const override { return static_cast<std::int32_t>(InputKind::Folder); }
    InputCheck validateInput(const std::string&) const override { return {true, {}}; }
    std::string documentTypeCode() const override { return "T1"; }
    SubmissionResult submit(NapSession*, const std::string& filePath, const ParamMap& params) const override {
        record(params, filePath);
        SubmissionResult result;
        result.success = paramOr(params, "fail", "false") != "true";
        result.errorMessage = result.success ? "" : "отказано";
        result.incomeNumber = result.success ? "1234" : "";
        return result;
    }

private:
    bool requiresPath_;
};

const bool kRegistered = [] {
    auto& registry = OperationRegistry::instance();
    registry.registerOperation(kEchoOp, [] { return std::make_unique<SessionEcho>(kEchoOp); });
    registry.registerOperation(kTokenEchoOp,
                               [] { return std::make_unique<SessionEcho>(kTokenEchoOp, true); });
    registry.registerOperation(kGateOp, [] { return std::make_unique<GateInquiry>(); });
    registry.registerOperation(kThrowsOp, [] { return std::make_unique<ThrowingInquiry>(); });
    registry.registerOperation(kBadTextOp, [] { return std::make_unique<BadTextInquiry>(); });
    registry.registerOperation(kBrokenDemoOp, [] { return std::make_unique<BrokenDemoInquiry>(); });
    registry.registerOperation(kFilingOp, [] { return std::make_unique<Filing>(kFilingOp, true); });
    registry.registerOperation(kFilingAnyPathOp,
                               [] { return std::make_unique<Filing>(kFilingAnyPathOp, false); });
    return true;
}();

}  // namespace

void OperationLog::reset() {
    std::lock_guard lock(mutex);
    lastParams.reset();
    lastFilePath.reset();
    runs = 0;
}

OperationLog& operationLog() {
    static OperationLog log;
    return log;
}

void Gate::reset() {
    std::lock_guard lock(mutex_);
    open_ = false;
    waiting_ = inside_ = maxInside_ = identityChanges_ = passedUnopened_ = 0;
}

bool Gate::waitForArrivals(int count) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, kGateDeadline, [&] { return waiting_ >= count; });
}

void Gate::open() {
    {
        std::lock_guard lock(mutex_);
        open_ = true;
    }
    changed_.notify_all();
}

int Gate::maxInside() {
    std::lock_guard lock(mutex_);
    return maxInside_;
}

int Gate::passedUnopened() {
    std::lock_guard lock(mutex_);
    return passedUnopened_;
}

int Gate::identityChangesDuringRun() {
    std::lock_guard lock(mutex_);
    return identityChanges_;
}

void Gate::pass(const std::string& identityBefore, const std::function<std::string()>& identityNow) {
    {
        std::unique_lock lock(mutex_);
        ++inside_;
        maxInside_ = std::max(maxInside_, inside_);
        ++waiting_;
        changed_.notify_all();
        // A test that fails before opening the gate must not hang the run.
        if (!changed_.wait_for(lock, kGateDeadline, [&] { return open_; })) {
            ++passedUnopened_;
            open_ = true;  // the runs behind this one do not wait out the deadline again
            changed_.notify_all();
        }
        // A moment in which an overlapping run would show up. Asleep, not
        // yielding: on a busy machine each yield hands a whole time slice to
        // whatever spins beside the run, and the run crawls.
        changed_.wait_for(lock, kOverlapWindow, [&] { return inside_ > 1; });
    }
    const bool changed = identityNow() != identityBefore;
    std::lock_guard lock(mutex_);
    if (changed) {
        ++identityChanges_;
    }
    --inside_;
}

Gate& gate() {
    static Gate instance;
    return instance;
}

}  // namespace velk::test
