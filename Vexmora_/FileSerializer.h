// Binary file access in 8-byte items and single bytes. One call serves both
// directions: it reads when the object was opened for reading and writes when
// it was opened for writing, so one description of a record layout does both.
#pragma once

#include <cstdint>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <type_traits>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <thread>

#include "BulkMemory.h"
#include "Error.h"

// A path holding a NUL byte names no file: the C library would silently open
// the part before the NUL instead.
inline bool is_file_name(const std::string& path) { return path.find('\0') == std::string::npos; }

class FileSerializer {
 public:
  FileSerializer(const std::string& path_, const char* mode, bool swap)
      : FileSerializer(checked_name(path_), mode, swap) {}
  FileSerializer(const char* path_, const char* mode, bool swap) : path(path_) {
    const char m = mode[0];
    if (m != 'r' && m != 'w') VEX_THROW(std::string("Unknown file open mode: ") + mode);
    read_mode = (m == 'r');
    // Reading goes through the descriptor at positions of our own: a record is
    // found by position, and each seek of a stdio stream costs a system call.
    if (read_mode)
      fd = ::open(path_, O_RDONLY | O_CLOEXEC);
    else
      fp = std::fopen(path_, "wb");
    if (fp == nullptr && fd < 0) VEX_THROW(std::string("Can not open/write file: ") + path_);
    swap_bytes = swap;
    if (read_mode) {
      fsize = lseek(fd, 0, SEEK_END);
    }
  }
  ~FileSerializer() {
    if (fp != nullptr) {
      std::fclose(fp);
      fp = nullptr;
    }
    if (fd >= 0) ::close(fd);
  }
  FileSerializer(const FileSerializer&) = delete;
  FileSerializer& operator=(const FileSerializer&) = delete;

  int64_t get_fsize() const {
    if (!read_mode) VEX_THROW("get_fsize only use in read mode");
    return fsize;
  }

  template <typename T>
  bool rw_value(T& item) {
    return rw_array(&item, 1);
  }

  // Moves n items with one library call. On a short read the items before the
  // failing one are complete, the failing one holds the bytes that were read
  // and later items are untouched.
  template <typename T>
  bool rw_array(T* items, int64_t n) {
    static_assert(sizeof(T) == 8 && std::is_trivially_copyable<T>::value,
                  "rw_array moves 8-byte items only");
    if (n < 1) return true;
    const auto count = static_cast<size_t>(n);
    if (read_mode) {
      const size_t done = read_bytes(reinterpret_cast<char*>(items), count * 8) / 8;
      if (swap_bytes) swap_items(items, done);
      return done == count;
    }
    if (!swap_bytes) return std::fwrite(items, 8, count, fp) == count;
    // The caller's values are never changed: swap a copy, a block at a time.
    T block[512];
    for (size_t first = 0; first < count; first += 512) {
      const size_t k = (count - first < 512) ? count - first : 512;
      std::memcpy(block, items + first, k * 8);
      swap_items(block, k);
      if (std::fwrite(block, 8, k, fp) != k) return false;
    }
    return true;
  }

  // Reads n items into v, replacing its content, as rw_array would into a
  // zero-filled vector of n items, but without filling it first. Large arrays
  // of doubles take their storage from the pool: a recycled buffer is read
  // into directly. Into new storage, the items pass through a buffer that
  // stays in the cache and are appended, so the vector's memory is written
  // once. Only what lies past the end of the file is zero-filled.
  template <typename T>
  bool read_vector(std::vector<T>& v, int64_t n) {
    static_assert(sizeof(T) == 8 && std::is_trivially_copyable<T>::value,
                  "read_vector moves 8-byte items only");
    if (!read_mode) VEX_THROW("read_vector only use in read mode");
    const size_t count = static_cast<size_t>(std::max<int64_t>(n, 0));
    make_room(v, count);
    if (count > 0 && v.size() == count) {
      const size_t bytes = read_large(reinterpret_cast<char*>(v.data()), count * 8);
      std::memset(reinterpret_cast<char*>(v.data()) + bytes, 0, count * 8 - bytes);
      if (swap_bytes) swap_items(v.data(), bytes / 8);
      return bytes == count * 8;
    }
    constexpr size_t kChunk = 8192;
    T buf[kChunk];
    while (v.size() < count) {
      const size_t k = std::min(kChunk, count - v.size());
      const size_t bytes = read_bytes(reinterpret_cast<char*>(buf), k * 8);
      const size_t got = (bytes + 7) / 8;  // a partial last item keeps zeros after its bytes
      std::memset(reinterpret_cast<char*>(buf) + bytes, 0, got * 8 - bytes);
      if (swap_bytes) swap_items(buf, bytes / 8);
      v.insert(v.end(), buf, buf + got);
      if (bytes < k * 8) break;
    }
    const bool complete = v.size() == count;
    v.resize(count);
    return complete;
  }

  // What identifies the file and its content at one moment: a file replaced,
  // cut short or written to since differs in one of them.
  struct Identity {
    int64_t device = 0, inode = 0, size = 0, mtime_s = 0, mtime_ns = 0;
    bool operator==(const Identity& o) const {
      return device == o.device && inode == o.inode && size == o.size && mtime_s == o.mtime_s &&
             mtime_ns == o.mtime_ns;
    }
  };
  Identity identity() const {
    struct stat st {};
    if (fstat(descriptor(), &st) != 0) VEX_THROW("Can not examine file: " + path);
    return Identity{static_cast<int64_t>(st.st_dev), static_cast<int64_t>(st.st_ino),
                    static_cast<int64_t>(st.st_size), static_cast<int64_t>(st.st_mtim.tv_sec),
                    static_cast<int64_t>(st.st_mtim.tv_nsec)};
  }

  bool rw_bytes(char* buf, int64_t n) {
    if (n < 1) return true;
    const auto count = static_cast<size_t>(n);
    const size_t done = read_mode ? read_bytes(buf, count) : std::fwrite(buf, 1, count, fp);
    return done == count;
  }

  // The descriptor of the open file, for fstat.
  int descriptor() const { return read_mode ? fd : fileno(fp); }

  // Absolute and relative positioning in bytes.
  bool seek(int64_t byte_offset) {
    if (!read_mode) return fseeko(fp, byte_offset, SEEK_SET) == 0;
    if (byte_offset < 0) return false;
    pos = byte_offset;
    return true;
  }
  bool skip(int64_t byte_count) {
    if (!read_mode) return fseeko(fp, byte_count, SEEK_CUR) == 0;
    return seek(pos + byte_count);
  }
  int64_t tell() const { return read_mode ? pos : ftello(fp); }

 private:
  static const char* checked_name(const std::string& p) {
    if (!is_file_name(p)) VEX_THROW("Can not open/write file: " + p);
    return p.c_str();
  }

  // Reads of at least this many bytes are shared between two threads: copying
  // out of the page cache is most of a load, and two threads copy about twice
  // as fast as one.
  static constexpr size_t kSplitRead = size_t{8} << 20;

  // Up to n bytes at the file's position into dst, as fread would: returns
  // the bytes read from the start, and the position moves past them.
  size_t read_large(char* dst, size_t n) {
    if (n < kSplitRead) return read_bytes(dst, n);
    const auto at = static_cast<off_t>(pos);
    const size_t half = (n / 2) & ~size_t{4095};
    size_t second = 0;
    std::thread helper([&] { second = pread_all(fd, dst + half, n - half, at + static_cast<off_t>(half)); });
    const size_t first = pread_all(fd, dst, half, at);
    helper.join();
    const size_t done = first < half ? first : half + second;
    pos += static_cast<int64_t>(done);
    return done;
  }

  // Up to n bytes at the position into dst, as fread would read them: the
  // bytes read from the start, and the position moves past them. Small reads
  // come from one block read ahead, as stdio's buffer would give them.
  size_t read_bytes(char* dst, size_t n) {
    size_t done = 0;
    while (done < n) {
      const int64_t in_block = pos - block_at;
      if (in_block >= 0 && in_block < static_cast<int64_t>(block_len)) {
        const size_t k = std::min(n - done, block_len - static_cast<size_t>(in_block));
        std::memcpy(dst + done, block.data() + in_block, k);
        done += k;
        pos += static_cast<int64_t>(k);
        continue;
      }
      if (n - done >= kBlock) {  // large: straight into place
        const size_t k = pread_all(fd, dst + done, n - done, static_cast<off_t>(pos));
        done += k;
        pos += static_cast<int64_t>(k);
        break;
      }
      if (block.empty()) block.resize(kBlock);
      block_at = pos;
      block_len = pread_all(fd, block.data(), kBlock, static_cast<off_t>(pos));
      if (block_len == 0) break;  // the end of the file, or an error
    }
    return done;
  }

  // n bytes at offset `at`, or fewer at the end of the file or on an error.
  static size_t pread_all(int fd, char* dst, size_t n, off_t at) {
    size_t done = 0;
    while (done < n) {
      const ssize_t k = pread(fd, dst + done, n - done, at + static_cast<off_t>(done));
      if (k < 0 && errno == EINTR) continue;
      if (k <= 0) break;
      done += static_cast<size_t>(k);
    }
    return done;
  }

  // Empty with room for count items, or (recycled) holding count items.
  template <typename T>
  static void make_room(std::vector<T>& v, size_t count) {
    if constexpr (std::is_same<T, double>::value) {
      if (count >= bulk::kMinItems) {
        bulk::give(v);
        v = bulk::take(count);
        return;
      }
    }
    v.clear();
    v.reserve(count);
  }

  template <typename T>
  static void swap_items(T* items, size_t n) {
    auto* b = reinterpret_cast<unsigned char*>(items);
    for (size_t i = 0; i < n; ++i, b += 8) {
      for (int k = 0; k < 4; ++k) {
        const unsigned char t = b[k];
        b[k] = b[7 - k];
        b[7 - k] = t;
      }
    }
  }

  static constexpr size_t kBlock = 4096;
  std::FILE* fp = nullptr;  // writing
  int fd = -1;              // reading
  int64_t pos = 0;          // of reading, bytes
  std::vector<char> block;  // read ahead from block_at
  int64_t block_at = 0;
  size_t block_len = 0;
  std::string path;
  bool read_mode = true;
  bool swap_bytes = false;
  int64_t fsize = 0;
};
