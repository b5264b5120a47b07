// FileSerializer: open modes, both directions, byte reversal and short reads.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "FileSerializer.h"

namespace {

class FileSerializerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path = ::testing::TempDir() + "vexmora_fs_" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name();
  }
  void TearDown() override { std::remove(path.c_str()); }

  void write_raw(const std::vector<unsigned char>& bytes) const {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  std::vector<unsigned char> read_raw() const {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }

  std::string path;
};

std::string message_of(const std::function<void()>& action) {
  try {
    action();
  } catch (const _Error& e) {
    return e.what();
  }
  return "";
}

TEST_F(FileSerializerTest, OnlyFirstCharacterOfModeCounts) {
  {
    FileSerializer w(path.c_str(), "write", false);
    int64_t v = 5;
    EXPECT_TRUE(w.rw_value(v));
    EXPECT_EQ(message_of([&] { w.get_fsize(); }).rfind("Error: get_fsize only use in read mode", 0),
              0u);
  }
  FileSerializer r(path.c_str(), "read", false);
  EXPECT_EQ(r.get_fsize(), 8);
  int64_t v = 0;
  EXPECT_TRUE(r.rw_value(v));
  EXPECT_EQ(v, 5);
}

TEST_F(FileSerializerTest, OpenFailures) {
  EXPECT_EQ(message_of([&] { FileSerializer f(path.c_str(), "a", false); })
                .rfind("Error: Unknown file open mode: a\n\n", 0),
            0u);
  const std::string missing = path + "/missing";
  EXPECT_EQ(message_of([&] { FileSerializer f(missing.c_str(), "r", false); })
                .rfind("Error: Can not open/write file: " + missing + "\n\n", 0),
            0u);
}

TEST_F(FileSerializerTest, EmptyFileHasZeroSize) {
  write_raw({});
  FileSerializer r(path.c_str(), "r", false);
  EXPECT_EQ(r.get_fsize(), 0);
  int64_t v = 17;
  EXPECT_FALSE(r.rw_value(v));
}

TEST_F(FileSerializerTest, SwapBothDirections) {
  write_raw({1, 2, 3, 4, 5, 6, 7, 8});
  int64_t v = 0;
  {
    FileSerializer r(path.c_str(), "r", true);
    EXPECT_TRUE(r.rw_value(v));
  }
  EXPECT_EQ(v, 0x0102030405060708LL);
  {
    FileSerializer w(path.c_str(), "w", true);
    EXPECT_TRUE(w.rw_value(v));
  }
  EXPECT_EQ(v, 0x0102030405060708LL);  // the caller's value is left alone
  EXPECT_EQ(read_raw(), (std::vector<unsigned char>{1, 2, 3, 4, 5, 6, 7, 8}));
}

TEST_F(FileSerializerTest, ArrayRoundTripWithSwapAcrossBlocks) {
  std::vector<double> values(1500);
  for (size_t i = 0; i < values.size(); ++i) values[i] = 0.25 * static_cast<double>(i) - 3.0;
  {
    FileSerializer w(path.c_str(), "w", true);
    EXPECT_TRUE(w.rw_array(values.data(), static_cast<int64_t>(values.size())));
  }
  const std::vector<unsigned char> raw = read_raw();
  ASSERT_EQ(raw.size(), values.size() * 8);
  {
    // The file holds reversed bytes, so an unswapped read differs.
    FileSerializer plain(path.c_str(), "r", false);
    double d = 0;
    EXPECT_TRUE(plain.rw_value(d));
    EXPECT_NE(d, values[0]);
  }
  std::vector<double> back(values.size(), 0.0);
  FileSerializer r(path.c_str(), "r", true);
  EXPECT_TRUE(r.rw_array(back.data(), static_cast<int64_t>(back.size())));
  EXPECT_EQ(back, values);
}

TEST_F(FileSerializerTest, NonPositiveCountsDoNothing) {
  write_raw(std::vector<unsigned char>(16, 0xff));
  FileSerializer r(path.c_str(), "r", false);
  int64_t v[2] = {7, 7};
  char b = 'x';
  EXPECT_TRUE(r.rw_array(v, 0));
  EXPECT_TRUE(r.rw_array(v, -5));
  EXPECT_TRUE(r.rw_bytes(&b, 0));
  EXPECT_TRUE(r.rw_bytes(&b, -1));
  EXPECT_EQ(r.tell(), 0);
  EXPECT_EQ(v[0], 7);
  EXPECT_EQ(b, 'x');
}

TEST_F(FileSerializerTest, ShortReadFillsCompleteItemsOnly) {
  std::vector<unsigned char> bytes;
  for (int64_t i = 1; i <= 5; ++i)
    for (int k = 0; k < 8; ++k) bytes.push_back(static_cast<unsigned char>(k == 0 ? i : 0));
  write_raw(bytes);  // 40 bytes: the integers 1..5
  FileSerializer r(path.c_str(), "r", false);
  // 20 bytes before the end: two whole items, then four bytes of a third.
  ASSERT_TRUE(r.seek(r.get_fsize() - 20));
  int64_t items[4] = {-1, -1, -1, -1};
  EXPECT_FALSE(r.rw_array(items, 3));
  int64_t expect_first = 0;
  std::memcpy(&expect_first, bytes.data() + 20, 8);
  EXPECT_EQ(items[0], expect_first);
  std::memcpy(&expect_first, bytes.data() + 28, 8);
  EXPECT_EQ(items[1], expect_first);
  EXPECT_EQ(items[3], -1);  // never touched
}

TEST_F(FileSerializerTest, BytesAreNeverReordered) {
  write_raw({'a', 'b', 'c'});
  FileSerializer r(path.c_str(), "r", true);
  char buf[4] = {0, 0, 0, 0};
  EXPECT_FALSE(r.rw_bytes(buf, 4));
  EXPECT_STREQ(buf, "abc");
  ASSERT_TRUE(r.seek(1));
  EXPECT_TRUE(r.rw_bytes(buf, 2));
  EXPECT_EQ(std::string(buf, 2), "bc");
  EXPECT_TRUE(r.skip(-2));
  EXPECT_EQ(r.tell(), 1);
}

}  // namespace
