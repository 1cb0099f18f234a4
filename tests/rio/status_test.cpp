#include "rio/status.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace vantrel {
namespace {

struct TextCase {
  RioStatus code;
  const char* core;
  const char* console;
  const char* gui;
};

class StatusTexts : public ::testing::TestWithParam<TextCase> {};

TEST_P(StatusTexts, EachFrontEndHasItsOwnText) {
  const TextCase& c = GetParam();
  EXPECT_STREQ(rioStatusText(c.code), c.core);
  EXPECT_STREQ(rioConsoleStatusText(c.code), c.console);
  EXPECT_STREQ(rioGuiStatusText(c.code), c.gui);
}

INSTANTIATE_TEST_SUITE_P(
    Table, StatusTexts,
    ::testing::Values(
        TextCase{0, "successful operation", "successful operation", "successful operation"},
        TextCase{-1, "EOP in input data", "EOP in input data", "EOP in input data"},
        TextCase{-4, "parameter out of range or illegal value", "internal error 1", "internal error 1"},
        TextCase{-8, "Stream I/O error", "unable to complete writing file", "unable to complete writing file"},
        TextCase{-14, "too many or too few columns", "too many or too few columns", "too many or too few columns"},
        TextCase{-16, "read or write function not implemented", "internal error 5",
                 "read or write function not implemented"},
        TextCase{-18, "internal or debugging error", "internal error 6", "internal error 6"},
        // Unassigned codes and the warning-only -17 take the defaults.
        TextCase{-6, "unknown error", "internal error 8", "internal error 8"},
        TextCase{-17, "unknown error", "internal error 8", "internal error 8"},
        TextCase{-99, "unknown error", "internal error 8", "internal error 8"}));

TEST(StatusTexts, PositiveCodesUseTheSystemText) {
  for (RioStatus code : {2, 5, 6, 7}) {
    std::string system = std::strerror(code);
    EXPECT_EQ(rioStatusText(code), system);
    EXPECT_EQ(rioConsoleStatusText(code), system);
    EXPECT_EQ(rioGuiStatusText(code), system);
  }
}

}  // namespace
}  // namespace vantrel
