#include "tstrings.h"

#include <gtest/gtest.h>

TEST(TstringsAny, AppendsTextsAndNumbersInOrder) {
    tstrings::any builder(std::string("a"));
    builder << 42 << "b";
    EXPECT_EQ("a42b", builder.str());
}
