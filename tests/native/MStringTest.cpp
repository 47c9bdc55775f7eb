#include "foundation/MString.h"
#include <gtest/gtest.h>
TEST(MString, Smoke) { EXPECT_EQ(ParseUnsigned(u"34.0"_ms), 34u); }
