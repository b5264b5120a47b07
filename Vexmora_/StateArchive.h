// The archive of a parsed state: values, texts, arrays and matrices appended
// to bytes, and read back with every count checked against the bytes left.
// The reader archives its own state (state.cpp); a caller may archive more
// behind it with the same classes.
#pragma once

#include <Eigen/Dense>
#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

#include "Error.h"
#include "Vexmora.h"

class StateWriter {
 public:
  std::string out;

  template <typename T>
  std::enable_if_t<std::is_arithmetic<T>::value || std::is_enum<T>::value> item(const T& v) {
    raw(&v, sizeof v);
  }
  void item(const std::string& s) {
    count(s.size());
    raw(s.data(), s.size());
  }
  template <typename T>
  void item(const std::vector<T>& v) {
    count(v.size());
    if constexpr (std::is_arithmetic<T>::value) raw(v.data(), v.size() * sizeof(T));
    else for (const T& x : v) item(x);
  }
  template <typename T, size_t N>
  void item(const std::array<T, N>& a) {
    for (const T& x : a) item(x);
  }
  void item(const DirEntry& e) { visit(e.label, e.begin, e.end, e.aux); }
  template <int R, int C>
  void item(const Eigen::Matrix<double, R, C>& mat) {
    count(static_cast<size_t>(mat.rows()));
    count(static_cast<size_t>(mat.cols()));
    raw(mat.data(), static_cast<size_t>(mat.size()) * sizeof(double));
  }
  template <typename... T>
  void visit(const T&... v) {
    (item(v), ...);
  }
  void count(size_t n) { item(static_cast<int64_t>(n)); }

 private:
  void raw(const void* p, size_t n) { out.append(static_cast<const char*>(p), n); }
};

class StateReader {
 public:
  StateReader(const char* data, size_t size) : p(data), left(size) {}
  bool done() const { return left == 0; }

  template <typename T>
  std::enable_if_t<std::is_arithmetic<T>::value || std::is_enum<T>::value> item(T& v) {
    raw(&v, sizeof v);
  }
  void item(std::string& s) {
    s.resize(count(1));
    raw(&s[0], s.size());
  }
  template <typename T>
  void item(std::vector<T>& v) {
    if constexpr (std::is_arithmetic<T>::value) {
      v.resize(count(sizeof(T)));
      raw(v.data(), v.size() * sizeof(T));
    } else {
      v.resize(count(8));  // every element takes at least one word
      for (T& x : v) item(x);
    }
  }
  template <typename T, size_t N>
  void item(std::array<T, N>& a) {
    for (T& x : a) item(x);
  }
  void item(DirEntry& e) { visit(e.label, e.begin, e.end, e.aux); }
  template <int R, int C>
  void item(Eigen::Matrix<double, R, C>& mat) {
    const size_t rows = count(0), cols = count(0);
    if ((R != Eigen::Dynamic && rows != size_t(R)) || (C != Eigen::Dynamic && cols != size_t(C)) ||
        (rows != 0 && cols > left / 8 / rows))
      damaged();
    mat.resize(static_cast<Eigen::Index>(rows), static_cast<Eigen::Index>(cols));
    raw(mat.data(), rows * cols * sizeof(double));
  }
  template <typename... T>
  void visit(T&... v) {
    (item(v), ...);
  }
  [[noreturn]] static void damaged() { VEX_THROW("Damaged checkpoint state"); }
  // A count, checked against the bytes left before it sizes anything: each
  // of its items takes at least item_size bytes.
  size_t count(size_t item_size) {
    int64_t n = 0;
    item(n);
    if (n < 0 || (item_size > 0 && static_cast<uint64_t>(n) > left / item_size)) damaged();
    return static_cast<size_t>(n);
  }
  void raw(void* dst, size_t n) {
    if (n > left) damaged();
    if (n > 0) std::memcpy(dst, p, n);
    p += n;
    left -= n;
  }
  const char* p;
  size_t left;
};
