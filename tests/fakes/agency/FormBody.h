#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velk::test {

// One field of an application/x-www-form-urlencoded body: the name exactly
// as it travelled (not decoded, so a check sees whether it was escaped) and
// the decoded value.
struct FormBodyField {
    std::string rawName;
    std::string value;
};

// The fields in body order; a part without '=' is a name with an empty value.
std::vector<FormBodyField> parseFormBody(std::string_view body);

// %XX sequences decoded and '+' read as a blank; a broken escape stays as it is.
std::string percentDecode(std::string_view text);

}  // namespace velk::test
