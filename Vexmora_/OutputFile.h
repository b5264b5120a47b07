// Output files that appear whole or not at all.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

// Text goes to a temporary file beside the target, which replaces the target
// only when commit() has written, flushed and closed everything. Every write
// is checked; a failure throws "Can not write file: PATH: <reason>" and the
// destructor removes the temporary file, so an existing target is untouched.
// A target that is not a regular file (a terminal, /dev/null, a pipe) is
// written in place: renaming over it would replace the device itself.
class OutputFile {
 public:
  explicit OutputFile(const std::string& path);
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
