// Names the instances of a data-driven test after their rows.
#pragma once

#include <string>

#include <gtest/gtest.h>

namespace kiv::test {

template <typename Row>
std::string rowName(const ::testing::TestParamInfo<Row>& param)
{
    return param.param.name;
}

}  // namespace kiv::test
