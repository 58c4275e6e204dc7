// CaseNames.h - test names and printouts for the rows of parameterized tests.
//
// gtest prints a parameter type it knows nothing about as its raw bytes ("40-byte object
// <C9-E7 ...>"), in the test list and in every failure message. Each row struct therefore
// has a PrintTo beside it, in its own namespace so that gtest finds it; ByName names the
// instances after the rows, so that CTest lists words instead of indices.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>

namespace gptest {

// A valid gtest name from any label: letters and digits are kept, anything else becomes '_'.
inline std::string TestNameFrom(std::string_view label) {
    std::string name;
    for (char c : label) {
        const bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
        name += keep ? c : '_';
    }
    return name;
}

// The fourth argument of INSTANTIATE_TEST_SUITE_P for rows with a `name` member.
struct ByName {
    template <class Row>
    std::string operator()(const ::testing::TestParamInfo<Row>& info) const {
        return TestNameFrom(info.param.name);
    }
};

// One field as gtest shows it: L"..." with escapes for wide text, true/false, numbers.
template <class T>
std::string Show(const T& value) {
    return ::testing::PrintToString(value);
}

}  // namespace gptest
