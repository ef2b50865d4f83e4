#include <gtest/gtest.h>
TEST(SxHandlers, Placeholder) {}
