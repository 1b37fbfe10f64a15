#include "operations/OperationRegistry.h"

#include <algorithm>

#include "common/Logger.h"

namespace velk::core::operations {

namespace {

constexpr std::string_view kLogPrefix = "OperationRegistry: ";

void warn(const std::string& text) {
    logLine(LogLevel::Warn, std::string(kLogPrefix) + text);
}

}  // namespace

OperationRegistry& OperationRegistry::instance() {
    static OperationRegistry registry;
    return registry;
}

bool OperationRegistry::registerOperation(std::string typeId, OperationFactory factory) {
    if (typeId.empty() || !factory) {
        warn("ignored registration with empty typeId or null factory");
        return false;
    }
    if (entries_.count(typeId) != 0) {
        warn("duplicate registration for '" + typeId + "' ignored");
        return false;
    }
    const std::unique_ptr<IVelkOperation> probe = factory();
    if (!probe) {
        warn("factory for '" + typeId + "' returned null");
        return false;
    }
    OperationDescriptor descriptor;
    descriptor.typeId = typeId;
    descriptor.displayName = probe->displayName();
    descriptor.category = probe->category();
    descriptor.featureGroupId = probe->featureGroupId();
    descriptor.featureGroupName = probe->featureGroupName();
    descriptor.kind = probe->kind();
    descriptor.requiresSubmissionToken = probe->requiresSubmissionToken();
    entries_.emplace(typeId, Entry{std::move(factory), std::move(descriptor)});
    logLine(LogLevel::Info, std::string(kLogPrefix) + "registered '" + typeId + "'");
    return true;
}

std::unique_ptr<IVelkOperation> OperationRegistry::create(const std::string& typeId) const {
    const auto it = entries_.find(typeId);
    return it == entries_.end() ? nullptr : it->second.factory();
}

std::vector<OperationDescriptor> OperationRegistry::list() const {
    std::vector<OperationDescriptor> descriptors;
    descriptors.reserve(entries_.size());
    for (const auto& [typeId, entry] : entries_) {
        descriptors.push_back(entry.descriptor);
    }
    std::sort(descriptors.begin(), descriptors.end(),
              [](const OperationDescriptor& a, const OperationDescriptor& b) { return a.typeId < b.typeId; });
    return descriptors;
}

const OperationDescriptor* OperationRegistry::find(const std::string& typeId) const {
    const auto it = entries_.find(typeId);
    return it == entries_.end() ? nullptr : &it->second.descriptor;
}

}  // namespace velk::core::operations
