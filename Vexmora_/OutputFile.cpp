#include "OutputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdlib>
#include <memory>
#include <system_error>

#include "Error.h"
#include "FileSerializer.h"

namespace {

// The real path behind a symbolic link, so that the link itself survives
// the rename; the path unchanged otherwise (or when the link dangles).
std::string resolve_link(const std::string& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
  const std::unique_ptr<char, decltype(&std::free)> real(realpath(path.c_str(), nullptr),
                                                         &std::free);
  return real ? std::string(real.get()) : path;
}

// A hidden name beside the target, unique within this process and (with the
// pid) among processes; the base name is cut so that the suffix always fits.
std::string temp_name(const std::string& path) {
  static std::atomic<unsigned long> counter{0};
  const size_t slash = path.rfind('/');
  const std::string dir = slash == std::string::npos ? "" : path.substr(0, slash + 1);
  const std::string base = path.substr(slash == std::string::npos ? 0 : slash + 1);
  return dir + "." + base.substr(0, 200) + "." + std::to_string(getpid()) + "-" +
         std::to_string(counter++) + ".tmp";
}

}  // namespace

InputFile InputFile::of(const std::string& path, int fd) {
  InputFile in;
  in.path = path;
  struct stat st {};
  if (fd >= 0 ? fstat(fd, &st) == 0 : is_file_name(path) && stat(path.c_str(), &st) == 0) {
    in.dev = static_cast<uint64_t>(st.st_dev);
    in.ino = static_cast<uint64_t>(st.st_ino);
  }
  return in;
}

void refuse_input(const std::string& path, const InputFile& input) {
  struct stat st {};
  if (input.known() && is_file_name(path) && stat(path.c_str(), &st) == 0 &&
      static_cast<uint64_t>(st.st_dev) == input.dev && static_cast<uint64_t>(st.st_ino) == input.ino)
    VEX_THROW_WRITE(path, 0, "it is the input file " + input.path + ", which is never replaced");
}

OutputFile::OutputFile(const std::string& path, const InputFile& input) : target(path) {
  if (!is_file_name(path)) fail(EINVAL);
  refuse_input(path, input);
  final_path = resolve_link(path);
  struct stat st {};
  const bool exists = stat(final_path.c_str(), &st) == 0;
  if (exists && S_ISDIR(st.st_mode)) fail(EISDIR);
  if (exists && !S_ISREG(st.st_mode)) {
    fp = std::fopen(final_path.c_str(), "w");
    if (fp == nullptr) fail(errno);
    return;
  }
  // Created with mode 0666 the kernel applies the umask, as for any new file;
  // a file being replaced keeps its permissions, as a rewrite in place would.
  int fd = -1;
  for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
    temp_path = temp_name(final_path);
    fd = open(temp_path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    const int err = errno;
    temp_path.clear();
    fail(err);
  }
  if (exists && fchmod(fd, st.st_mode & 07777) != 0) {
    const int err = errno;
    close(fd);
    fail(err);  // the destructor removes the temporary file
  }
  fp = fdopen(fd, "w");
  if (fp == nullptr) {
    const int err = errno;
    close(fd);
    fail(err);
  }
}

OutputFile::~OutputFile() {
  if (fp != nullptr) std::fclose(fp);
  if (!temp_path.empty()) unlink(temp_path.c_str());
}

void OutputFile::print(const char* fmt, ...) {
  va_list args;
  va_start(args, fmt);
  const int n = std::vfprintf(fp, fmt, args);
  va_end(args);
  if (n < 0) fail(errno);
}

void OutputFile::write(const char* data, size_t n) {
  if (n > 0 && std::fwrite(data, 1, n, fp) != n) fail(errno);
}

void OutputFile::commit() {
  if (std::fflush(fp) != 0 || std::ferror(fp)) fail(errno);
  std::FILE* f = fp;
  fp = nullptr;
  if (std::fclose(f) != 0) fail(errno);
  if (!temp_path.empty()) {
    if (std::rename(temp_path.c_str(), final_path.c_str()) != 0) fail(errno);
    temp_path.clear();
  }
}

void OutputFile::fail(int err) const {
  // A library call may fail without saying why (a short write leaves errno 0).
  if (err == 0) err = EIO;
  VEX_THROW_WRITE(target, err, std::error_code(err, std::generic_category()).message());
}
