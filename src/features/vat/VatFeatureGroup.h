#pragma once

namespace velk::core::features::vat {

// The six VAT operations form one feature group, whose id is also the VAT
// return's typeId.
inline constexpr const char* kVatFeatureGroupId = "vat";
inline constexpr const char* kVatFeatureGroupName = "ДДС";

}  // namespace velk::core::features::vat
