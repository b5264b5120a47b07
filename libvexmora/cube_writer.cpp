#include "cube_writer.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "Error.h"
#include "OutputFile.h"
#include "formats.h"
#include "parallel.h"

namespace {

// " 1.23457E-01": 13 characters, right-aligned, as Fortran's 1PE13.5.
char* put_value(char* p, double v) {
  char tmp[32];
  const auto r = std::to_chars(tmp, tmp + sizeof tmp, v, std::chars_format::scientific, 5);
  const auto len = static_cast<size_t>(r.ptr - tmp);
  const size_t pad = len < 13 ? 13 - len : 1;  // three-digit exponents keep one space
  std::memset(p, ' ', pad);
  std::memcpy(p + pad, tmp, len);
  for (size_t k = pad; k < pad + len; ++k)
    if (p[k] == 'e') p[k] = 'E';
  return p + pad + len;
}

// The widest a value prints: a sign and a three-digit exponent leave one space.
constexpr int64_t kValueWidth = 14;

// Runs r0 .. r1 of the third axis as text, into `out`.
void format_runs(const double* values, int64_t r0, int64_t r1, int64_t n3, std::vector<char>& out) {
  out.resize(static_cast<size_t>((r1 - r0) * (kValueWidth * n3 + n3 / 6 + 1)));
  char* p = out.data();
  values += r0 * n3;
  for (int64_t r = r0; r < r1; ++r, values += n3)
    for (int64_t k = 0; k < n3; ++k) {
      p = put_value(p, values[k]);
      if (k % 6 == 5 || k == n3 - 1) *p++ = '\n';
    }
  out.resize(static_cast<size_t>(p - out.data()));
}

// Formatting is most of a cube's writing: each thread formats a chunk of
// about 1 MiB of text per round, and this one writes the round's chunks in
// order, so memory stays a chunk per thread whatever the size of the box.
void write_values(OutputFile& f, const double* values, int64_t runs, int64_t n3, int threads) {
  const int64_t per = std::max<int64_t>(1, (int64_t{1} << 20) / (kValueWidth * n3 + n3 / 6 + 1));
  threads = static_cast<int>(std::max<int64_t>(1, std::min<int64_t>(threads, (runs + per - 1) / per)));
  std::vector<std::vector<char>> text(static_cast<size_t>(threads));
  for (int64_t r = 0; r < runs; r += per * threads) {
    run_parallel(threads, [&](int t) {
      const int64_t first = std::min(runs, r + t * per);
      format_runs(values, first, std::min(runs, first + per), n3, text[static_cast<size_t>(t)]);
    });
    for (const std::vector<char>& chunk : text) f.write(chunk.data(), chunk.size());
  }
}

}  // namespace

void write_cube(const std::string& path, const Vexmora& reader, const std::string& title,
                const std::string& comment, const GridBox& box,
                const std::vector<int64_t>& orbitals, const double* values, int threads) {
  const ChkParams::Mol& m = reader.metadata().mol;
  const int64_t natoms = std::min<int64_t>(
      {m.natoms, static_cast<int64_t>(m.coords.size() / 3), static_cast<int64_t>(m.atomicnums.size())});
  if (natoms < 1) VEX_THROW("Cube output: the checkpoint holds no atoms");
  for (const int64_t n : box.shape)
    if (n < 1) VEX_THROW("Cube output: a box axis without points");
  OutputFile f = reader.output(path);
  f.put(one_line(title) + "\n" + one_line(comment) + "\n");
  const auto count = static_cast<long long>(orbitals.empty() ? natoms : -natoms);
  f.print("%5lld%12.6f%12.6f%12.6f\n", count, box.origin[0], box.origin[1], box.origin[2]);
  for (int a = 0; a < 3; ++a)
    f.print("%5lld%12.6f%12.6f%12.6f\n", static_cast<long long>(box.shape[a]), box.axes[3 * a],
            box.axes[3 * a + 1], box.axes[3 * a + 2]);
  for (int64_t i = 0; i < natoms; ++i)
    f.print("%5lld%12.6f%12.6f%12.6f%12.6f\n", static_cast<long long>(m.atomicnums[i]),
            i < static_cast<int64_t>(m.nucchg.size()) ? m.nucchg[i] : static_cast<double>(m.atomicnums[i]),
            m.coords[3 * i], m.coords[3 * i + 1], m.coords[3 * i + 2]);
  if (!orbitals.empty()) {
    std::vector<int64_t> line = {static_cast<int64_t>(orbitals.size())};
    line.insert(line.end(), orbitals.begin(), orbitals.end());
    for (size_t k = 0; k < line.size(); ++k)
      f.print(k % 10 == 9 || k + 1 == line.size() ? "%5lld\n" : "%5lld", static_cast<long long>(line[k]));
  }
  write_values(f, values, box.shape[0] * box.shape[1], box.shape[2], threads);
  f.commit();
}
