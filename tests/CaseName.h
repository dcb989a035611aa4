#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <string>

// A parameterised case's name in the test's name, from the words of its table: "Shift+Tab moves like Up" gives
// ShiftTabMovesLikeUp (GoogleTest takes letters, digits and underscores only).
inline std::string caseName(const char *words)
{
    std::string name;
    bool upper = true;
    for (const char *c = words; *c; ++c) {
        const auto byte = static_cast<unsigned char>(*c);
        if (std::isalnum(byte) && byte < 0x80) {
            name += upper ? char(std::toupper(byte)) : char(byte);
            upper = false;
        } else {
            upper = true;
        }
    }
    return name;
}

// For INSTANTIATE_TEST_SUITE_P: the case's own `name`.
struct CaseName
{
    template<typename Case> std::string operator()(const testing::TestParamInfo<Case> &info) const
    {
        return caseName(info.param.name);
    }
};
