// The one exception type through which every failure of the reader is reported.
#pragma once

#include <stdexcept>
#include <string>

class _Error : public std::runtime_error {
 public:
  _Error(const std::string& message, const char* src_file, int line, const char* function)
      : std::runtime_error(message), msg(build(message, src_file, line, function)) {}
  ~_Error() override = default;
  _Error(const _Error&) = default;
  _Error& operator=(const _Error&) = default;

  const char* what() const noexcept override { return msg.c_str(); }

 private:
  static std::string build(const std::string& message, const char* src_file, int line,
                           const char* function) {
    std::string s;
    s.reserve(message.size() + 64);
    s += "Error: ";
    // what() hands out a C string: a NUL in the message (from a path or a
    // text of the file) would cut the report short, so it is spelled out.
    for (const char c : message) {
      if (c == '\0')
        s += "\\0";
      else
        s += c;
    }
    s += "\n\nSource File:\t";
    s += src_file;
    s += ", Line: ";
    s += std::to_string(line);
    s += "\nFunction:\t";
    s += function;
    return s;
  }

  std::string msg;
};

// A failed or refused write. The report reads "Can not write file: PATH: REASON";
// the parts are also kept apart, with the system's error number (0 when the
// write was refused rather than attempted), for bindings that raise OSError.
class WriteError : public _Error {
 public:
  WriteError(const std::string& path_, int err_, const std::string& reason_, const char* src_file,
             int line, const char* function)
      : _Error("Can not write file: " + path_ + ": " + reason_, src_file, line, function),
        path(path_), reason(reason_), err(err_) {}

  std::string path, reason;
  int err;
};

// Throws _Error carrying the location of the raising statement.
#define VEX_THROW(message) throw _Error((message), __FILE__, __LINE__, __PRETTY_FUNCTION__)
#define VEX_THROW_WRITE(path, err, reason) \
  throw WriteError((path), (err), (reason), __FILE__, __LINE__, __PRETTY_FUNCTION__)
