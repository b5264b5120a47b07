// The report layout of _Error, which Python callers see verbatim.
#include <gtest/gtest.h>

#include <string>

#include "Error.h"

namespace {

size_t count_of(const std::string& text, const std::string& piece) {
  size_t n = 0;
  for (size_t pos = text.find(piece); pos != std::string::npos; pos = text.find(piece, pos + 1)) ++n;
  return n;
}

TEST(Error, ReportLayout) {
  const _Error e("Can not open/write file: /no/such.chk", "Vexmora_/Vexmora.cpp", 42,
                 "void f(int)");
  const std::string text = e.what();
  EXPECT_EQ(text,
            "Error: Can not open/write file: /no/such.chk\n\nSource File:\tVexmora_/Vexmora.cpp, "
            "Line: 42\nFunction:\tvoid f(int)");
  EXPECT_EQ(count_of(text, "\n\nSource File:\t"), 1u);
  EXPECT_EQ(count_of(text, ", Line: "), 1u);
  EXPECT_EQ(count_of(text, "\nFunction:\t"), 1u);
  EXPECT_LT(text.find("\n\nSource File:\t"), text.find(", Line: "));
  EXPECT_LT(text.find(", Line: "), text.find("\nFunction:\t"));
  // The base keeps the bare message.
  EXPECT_STREQ(static_cast<const std::runtime_error&>(e).std::runtime_error::what(),
               "Can not open/write file: /no/such.chk");
}

TEST(Error, EmptyMessageAndNegativeLine) {
  const _Error e("", "a.cpp", -3, "g");
  EXPECT_EQ(std::string(e.what()), "Error: \n\nSource File:\ta.cpp, Line: -3\nFunction:\tg");
}

TEST(Error, NulInMessageDoesNotCutTheReport) {
  const _Error e(std::string("file: a\0b", 9), "c.cpp", 1, "k");
  EXPECT_STREQ(e.what(), "Error: file: a\\0b\n\nSource File:\tc.cpp, Line: 1\nFunction:\tk");
}

TEST(Error, CopyKeepsReport) {
  const _Error e("m", "b.cpp", 7, "h");
  const _Error copy(e);  // NOLINT(performance-unnecessary-copy-initialization)
  EXPECT_STREQ(copy.what(), e.what());
}

TEST(Error, MacroNamesRaisingStatement) {
  try {
    VEX_THROW("boom");
    FAIL() << "no throw";
  } catch (const std::exception& e) {
    const std::string text = e.what();
    EXPECT_EQ(text.rfind("Error: boom\n\nSource File:\t", 0), 0u);
    EXPECT_NE(text.find("test_error.cpp, Line: "), std::string::npos);
    EXPECT_NE(text.find("\nFunction:\t"), std::string::npos);
  }
}

}  // namespace
