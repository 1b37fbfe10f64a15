#include "common/JsonUtils.h"

namespace velk::core {

std::string dumpCompact(const json& value) {
    return value.dump(-1, ' ', false, json::error_handler_t::strict);
}

}  // namespace velk::core
