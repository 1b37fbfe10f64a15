#include "features/common/CommonParams.h"

namespace velk::core::features {

using operations::ParamSpec;
using operations::ParamType;

ParamSpec eikParam(bool required) {
    return {"eik", "ЕИК / Булстат", ParamType::Eik, required, {}, {}, ""};
}

ParamSpec yearParam(bool required) {
    return {"year", "Година", ParamType::Year, required, {}, {}, ""};
}

ParamSpec monthParam() {
    return {"month", "Месец", ParamType::Month, true, {}, {}, "1-12"};
}

std::vector<ParamSpec> taxpayerPeriodParams() {
    return {eikParam(true), yearParam(true), monthParam()};
}

}  // namespace velk::core::features
