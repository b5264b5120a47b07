// What Python cannot reach: FileSerializer's write mode and byte reversal,
// PrmNrm beyond what a basis record holds, NormCC, copy_vec's guards.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

#include "Error.h"
#include "FileSerializer.h"
#include "Utils.h"

namespace {

// The first line of the report an action throws, or "".
template <typename F>
std::string error_of(F action) {
  try {
    action();
  } catch (const _Error& e) {
    const std::string text = e.what();
    return text.substr(0, text.find("\n\n"));
  }
  return "";
}

TEST(FileSerializer, WriteSwappedAndReadBack) {
  const std::string path = ::testing::TempDir() + "vexmora_fs.bin";
  std::vector<double> values(1500);
  for (size_t i = 0; i < values.size(); ++i) values[i] = 0.25 * static_cast<double>(i) - 3.0;
  int64_t v = 0x0102030405060708LL;
  {
    FileSerializer w(path.c_str(), "write", true);
    EXPECT_TRUE(w.rw_value(v));
    EXPECT_TRUE(w.rw_array(values.data(), static_cast<int64_t>(values.size())));
    EXPECT_EQ(error_of([&] { w.get_fsize(); }), "Error: get_fsize only use in read mode");
  }
  EXPECT_EQ(v, 0x0102030405060708LL);  // the caller's value is left alone
  std::ifstream in(path, std::ios::binary);
  const std::string raw{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  EXPECT_EQ(raw.substr(0, 8), std::string("\1\2\3\4\5\6\7\10"));
  FileSerializer r(path.c_str(), "r", true);
  EXPECT_EQ(r.get_fsize(), 8 * 1501);
  std::vector<double> back(values.size() + 1, -1.0);
  int64_t w = 0;
  EXPECT_TRUE(r.rw_value(w));
  EXPECT_FALSE(r.rw_array(back.data(), static_cast<int64_t>(back.size())));  // one too many
  EXPECT_EQ(w, v);
  EXPECT_EQ(std::vector<double>(back.begin(), back.end() - 1), values);
  EXPECT_EQ(back.back(), -1.0);
  EXPECT_TRUE(r.rw_array(back.data(), 0));  // nothing to move is no failure
  EXPECT_TRUE(r.rw_array(back.data(), -5));
  EXPECT_EQ(error_of([] { FileSerializer f("/", "a", false); }), "Error: Unknown file open mode: a");
  std::remove(path.c_str());
}

// Closed-form one-centre overlap of x^L e^{-a r^2} and x^L e^{-b r^2}.
double overlap(int L, double a, double b) {
  double dfact = 1.0;
  for (int k = 2 * L - 1; k > 1; k -= 2) dfact *= k;
  return std::pow(4.0 * std::atan(1.0) / (a + b), 1.5) * dfact / std::pow(2.0 * (a + b), L);
}

TEST(PrmNrm, OverlapAndCoulombUpToLmax) {
  const double pi = 4.0 * std::atan(1.0);
  EXPECT_EQ(PrmNrm(0, 20, 1.0, 1.0), 1.0);
  EXPECT_NEAR(PrmNrm(2, 0, 1.0, 1.0), 2.0 * std::pow(pi, 2.5) / std::sqrt(2.0), 1e-12);
  for (int L = 0; L <= 13; ++L) {
    EXPECT_NEAR(PrmNrm(1, L, 0.7, 1.9) / overlap(L, 0.7, 1.9), 1.0, 1e-12) << L;
    EXPECT_NEAR(PrmNrm(2, L, 2.5, 0.4) / PrmNrm(2, L, 0.4, 2.5), 1.0, 1e-12) << L;
  }
  EXPECT_EQ(error_of([] { PrmNrm(2, 14, 1.0, 1.0); }), "Error:  out of range in PrmNrm");
  EXPECT_EQ(error_of([] { PrmNrm(3, 0, 1.0, 1.0); }), "Error: Illegal IType in PrmNrm");
  EXPECT_EQ(error_of([] { PrmNrm(-1, 0, 1.0, 1.0); }), "Error: Illegal IType in PrmNrm");
}

// The reader never renormalises a contraction, so NormCC is reached only here.
TEST(NormCC, ContractionGetsUnitNormAndZeroIsRefused) {
  const double exps[3] = {5.0, 1.2, 0.3};
  std::vector<double> c = {0.2, 0.5, 0.6, 9.0}, diag(4, 0.0);
  for (int j = 0; j < 3; ++j) diag[j] = overlap(2, exps[j], exps[j]);
  NormCC(1, 2, 3, exps, c, diag);
  double s = 0.0;
  for (int j = 0; j < 3; ++j)
    for (int k = 0; k < 3; ++k) s += c[j] * c[k] * overlap(2, exps[j], exps[k]);
  EXPECT_NEAR(s, 1.0, 1e-12);
  EXPECT_EQ(c[3], 9.0);  // past n: untouched
  std::vector<double> zero = {0.0};
  EXPECT_EQ(error_of([&] { NormCC(1, 1, 1, exps, zero, diag); }),
            "Error: Unable to normalize a contracted basis function");
  EXPECT_EQ(error_of([&] { NormCC(1, 1, 0, exps, zero, diag); }),
            "Error: Unable to normalize a contracted basis function");
}

TEST(CopyVec, CopiesAndRefusesOverruns) {
  const std::vector<double> src = {1, 2, 3, 4};
  std::vector<double> dst(5, 0.0);
  copy_vec(src, dst, 3, 1, 2);
  copy_vec(src, dst, 0, 4, 5);  // an empty copy at the very ends
  const std::vector<std::tuple<int64_t, int64_t, int64_t, std::string>> bad = {
      {0, 5, 0, "src"}, {0, 0, 6, "dst"}, {2, 3, 0, "src"},
      {2, 0, 4, "dst"}, {1, -1, 0, "src"}, {INT64_MAX, 0, 0, "src"}};
  for (const auto& [n, s, d, what] : bad)
    EXPECT_EQ(error_of([&, n = n, s = s, d = d] { copy_vec(src, dst, n, s, d); }),
              "Error: copy_vec: " + what + " out of range")
        << n << " " << s << " " << d;
  EXPECT_EQ(dst, (std::vector<double>{0, 0, 2, 3, 4}));
}

}  // namespace
