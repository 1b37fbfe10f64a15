#pragma once

#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "operations/IVelkOperation.h"
#include "operations/OperationRecords.h"

namespace velk::core::operations {

using OperationFactory = std::function<std::unique_ptr<IVelkOperation>()>;

// typeId -> factory and descriptor. Filled during static initialisation and
// only read afterwards, so it takes no lock.
class OperationRegistry {
public:
    // The process-wide registry. Other instances serve tests only.
    static OperationRegistry& instance();

    // Refuses, with a WARN line, an empty typeId or factory, a typeId already
    // registered (the first entry stays) and a factory that makes nothing.
    bool registerOperation(std::string typeId, OperationFactory factory);
    // A new object per call; null for an unknown typeId.
    std::unique_ptr<IVelkOperation> create(const std::string& typeId) const;
    // Every descriptor, sorted by typeId in byte order.
    std::vector<OperationDescriptor> list() const;
    // The descriptor of one typeId, kept by the registry; null for an unknown
    // typeId.
    const OperationDescriptor* find(const std::string& typeId) const;

private:
    struct Entry {
        OperationFactory factory;
        OperationDescriptor descriptor;
    };

    std::unordered_map<std::string, Entry> entries_;
};

// Registers Op under its own typeId with a factory that makes a new Op. Meant
// for a namespace-scope constant in the class's source file.
template <typename Op>
bool registerOperationClass() {
    return OperationRegistry::instance().registerOperation(Op().typeId(),
                                                           [] { return std::make_unique<Op>(); });
}

}  // namespace velk::core::operations
