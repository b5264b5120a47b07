// Output files that appear whole or not at all.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

// The file a reader read, as the system identifies it (device and inode), so
// that no output replaces it under any name, link or hard link.
struct InputFile {
  std::string path;
  uint64_t dev = 0, ino = 0;  // ino 0: unknown (no file has it)
  bool known() const { return ino != 0; }
  // The identity of the open file `fd` read from `path`, or with fd < 0 of
  // the file `path` names now; unknown when there is none.
  static InputFile of(const std::string& path, int fd = -1);
};

// Throws WriteError when `path`, through links, names the file `input`.
void refuse_input(const std::string& path, const InputFile& input);

// Text goes to a temporary file beside the target, which replaces the target
// only when commit() has written, flushed and closed everything. Every write
// is checked; a failure throws "Can not write file: PATH: <reason>" and the
// destructor removes the temporary file, so an existing target is untouched.
// A target that is not a regular file (a terminal, /dev/null, a pipe) is
// written in place: renaming over it would replace the device itself.
// A target that is the input file is refused before anything is written.
class OutputFile {
 public:
  OutputFile(const std::string& path, const InputFile& input);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  void print(const char* fmt, ...) __attribute__((format(printf, 2, 3)));
  void write(const char* data, size_t n);
  void put(const std::string& s) { write(s.data(), s.size()); }
  // Flush, close and move the file into place.
  void commit();

 private:
  [[noreturn]] void fail(int err) const;

  std::string target;     // the path as given, for messages
  std::string final_path; // where the file ends up (a symbolic link resolved)
  std::string temp_path;  // empty when writing in place
  std::FILE* fp = nullptr;
};

// Text gathered in memory and handed to the file in large pieces: formatting
// millions of numbers through printf would dominate a writer's time.
class TextBuffer {
 public:
  explicit TextBuffer(OutputFile& f) : f_(f) {}
  TextBuffer(const TextBuffer&) = delete;
  TextBuffer& operator=(const TextBuffer&) = delete;

  // Space for n more characters, to be written from the pointer returned
  // and handed back with advance().
  char* room(size_t n) {
    if (buf_.size() - used_ < n) flush();
    if (buf_.size() < n) buf_.resize(n);
    return buf_.data() + used_;
  }
  void advance(const char* end) { used_ = static_cast<size_t>(end - buf_.data()); }
  void add(const char* s, size_t n) {
    char* p = room(n);
    std::memcpy(p, s, n);
    advance(p + n);
  }
  void add(const std::string& s) { add(s.data(), s.size()); }
  void add(const char* s) { add(s, std::strlen(s)); }
  // Called explicitly, not from a destructor: a failed write must throw.
  void flush() {
    f_.write(buf_.data(), used_);
    used_ = 0;
  }

 private:
  OutputFile& f_;
  std::vector<char> buf_ = std::vector<char>(size_t{1} << 16);
  size_t used_ = 0;
};
