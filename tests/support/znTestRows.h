#pragma once

#include <gtest/gtest.h>

#include <string>

// Names the rows of a table-driven suite by their `name` field, so that a failing row says which
// case it is instead of its position: INSTANTIATE_TEST_SUITE_P(..., Values(...), RowName()).
struct RowName
{
    template <class Row>
    std::string operator()(const testing::TestParamInfo<Row>& info) const
    {
        return info.param.name;
    }
};
