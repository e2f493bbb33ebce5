#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <string>

namespace kestrune {

// Test name of a table row from its `name` text, for readable failure lists.
template <typename Row> std::string RowName(const ::testing::TestParamInfo<Row> &row)
{
    std::string name = row.param.name;
    for (char &ch : name)
        if (!std::isalnum(static_cast<unsigned char>(ch)))
            ch = '_';
    return name;
}

} // namespace kestrune
