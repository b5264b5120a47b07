// The molecule section: /Mol/ (997), the raw basis /B/ (670), the orientation
// record (551), the reconciliation of atom positions with shell centres, and
// the cell.
#include <cstdio>
#include <cstring>
#include <string>

#include "Vexmora.h"

namespace {

constexpr int64_t kMolHeadWords = 20;
constexpr int64_t kBasisHeadWords = 32;
constexpr int64_t kOrientWords = 38;
// Per-atom arrays hold natoms + 3 entries (the translation vectors), capped.
constexpr int64_t kMaxAtomEntries = 250000;
constexpr int64_t kMaxAtoms = kMaxAtomEntries - 3;

void warn(const char* line) {
  // Flushed so the line appears in order with the host program's own output.
  std::fputs(line, stdout);
  std::fflush(stdout);
}

}  // namespace

void Vexmora::read_mol() {
  const DirEntry* mol = find_record(997);
  if (mol == nullptr) VEX_THROW("No Mol sections in .chk");
  read_mol_header(*mol);

  const DirEntry* brec = find_record(670);
  if (brec != nullptr) read_basis_record(*brec);

  const DirEntry* orec = find_record(551);
  if (ILSW[25] != 1 && orec != nullptr) {
    read_orientation(*orec);
    reconcile_orientation(brec != nullptr);
  }
  if (brec != nullptr && !check_coor()) {
    warn("Warning! Coordinates do not match /B/. Transferring coordinates from /Mol/ to /B/\n");
    copy_atoms_to_shells();
  }
  read_orbitals();
  read_cell();
}

void Vexmora::read_mol_header(const DirEntry& rec) {
  ChkParams::Mol& m = params_.mol;
  seek_record(rec);
  int64_t w[kMolHeadWords] = {};
  fs->rw_array(w, kMolHeadWords);
  const int64_t moltyp = w[0];
  if (moltyp < -12349 || moltyp > -12345)
    VEX_THROW("Bad MolTyp in rwmol: " + std::to_string(moltyp));
  if (moltyp == -12345) {
    m.molhdrlen = 12;
    m.natoms = w[1], m.totchg = w[2], m.multiplicity = w[3], m.nae = w[4], m.nbe = w[5];
    m.ne = w[6], m.nbasis = w[7], m.nbsuse = w[8], m.molhdr9 = w[9], m.ndim = w[10];
    m.molhdr11 = w[11];
  } else {
    m.molhdrlen = w[1];
    m.natoms = w[2], m.totchg = w[3], m.multiplicity = w[4], m.nae = w[5], m.nbe = w[6];
    m.ne = w[7], m.nbasis = w[8], m.nbsuse = w[9], m.molhdr9 = w[10], m.ndim = w[11];
    m.molhdr11 = w[12], m.molhdr12 = w[13], m.molhdr13 = w[14], m.molhdr14 = w[15];
    m.molhdr15 = w[16];
  }
  if (m.natoms < 1) VEX_THROW("Missing atom data in.chk");
  if (m.natoms > kMaxAtoms)
    VEX_THROW("Too many atoms in .chk, at most 249997 are supported: " + std::to_string(m.natoms));

  seek_record(rec, m.molhdrlen);
  const int64_t L = m.natoms + 3;
  // The six words per entry must fit in the file: otherwise a few kilobytes
  // claiming 249997 atoms would make megabytes of zeros (and of output). A
  // record cut short within the file simply leaves zeros.
  checked_count(6 * L, "atom arrays");
  const auto fill = [this](auto& v, int64_t n) {
    v.assign(static_cast<size_t>(n), 0);
    fs->rw_array(v.data(), n);
  };
  fill(m.atomicnums, L);
  fill(m.nucchg, L);
  fill(m.coords, 3 * L);
  fill(m.atomtypes, L);
}

void Vexmora::read_basis_record(const DirEntry& rec) {
  ChkParams::Mol& m = params_.mol;
  seek_record(rec);
  int64_t h[kBasisHeadWords] = {};
  fs->rw_array(h, kBasisHeadWords);
  m.NShell = h[0], m.bhdr1 = h[1], m.NPrim = h[2], m.bhdr3 = h[3], m.bhdr4 = h[4], m.bhdr5 = h[5];
  const bool ok = m.NShell >= 0 && m.bhdr1 >= 0 && !(m.bhdr1 >= 2 && m.bhdr3 == 0) &&
                  m.NPrim >= 0 && m.bhdr3 >= 0 && m.bhdr3 <= m.NPrim && (m.bhdr4 == 0 || m.bhdr4 == 1) &&
                  (m.bhdr5 == 0 || m.bhdr5 == 1);
  if (!ok) VEX_THROW("RdWrB1 read garbage pointers");
  // The eighteen arrays together must fit in the file before any is sized.
  checked_count(m.NShell, "basis shell arrays");
  checked_count(m.NPrim, "basis primitive arrays");
  const __int128 total = (__int128)3 * m.NPrim + (__int128)2 * m.bhdr3 + (__int128)13 * m.NShell;
  if (total > file_words())
    VEX_THROW("Size of basis record out of range for this file: NShell= " +
              std::to_string(m.NShell) + ", NPrim= " + std::to_string(m.NPrim));

  auto& b = m.basis;
  const int64_t ns = m.NShell, np = m.NPrim, nh = m.bhdr3;
  read_vec(b.primexp, np, "primexp");
  read_vec(b.primconc, np, "primconc");
  read_vec(b.primspconc, np, "primspconc");
  read_vec(b.hiconc1, nh, "hiconc1");
  read_vec(b.hiconc2, nh, "hiconc2");
  read_vec(b.shellhiptr, ns, "shellhiptr");
  read_vec(b.shellx, ns, "shellx");
  read_vec(b.shelly, ns, "shelly");
  read_vec(b.shellz, ns, "shellz");
  read_vec(b.shell2map, ns, "shell2map");
  read_vec(b.shellprimptr, ns, "shellprimptr");
  read_vec(b.shellnprim, ns, "shellnprim");
  read_vec(b.shelltypes, ns, "shelltypes");
  read_vec(b.shellcons, ns, "shellcons");
  read_vec(b.shellaux2, ns, "shellaux2");
  read_vec(b.shellaux3, ns, "shellaux3");
  read_vec(b.shellaux4, ns, "shellaux4");
  read_vec(b.shellaux5, ns, "shellaux5");
}

void Vexmora::read_orientation(const DirEntry& rec) {
  ChkParams::Mol& m = params_.mol;
  has_orient = true;
  seek_record(rec);
  int64_t w[kOrientWords] = {};
  fs->rw_array(w, kOrientWords);
  m.orient_a = w[0];
  m.orient_b = w[1];
  std::memcpy(m.orient_ints.data(), w + 2, 24 * 8);
  std::memcpy(m.orient_rot.data(), w + 26, 9 * 8);
  std::memcpy(m.orient_shift.data(), w + 35, 3 * 8);
}

void Vexmora::reconcile_orientation(bool with_basis) {
  if (!with_basis) {
    shift_atoms();
    rotate_atoms();
    return;
  }
  if (check_coor()) return;
  shift_atoms();
  if (check_coor()) return;
  rotate_atoms();
  if (check_coor()) return;
  warn("Warning! Use Basis coords\n");
  copy_shells_to_atoms();
}

bool Vexmora::check_coor() const {
  const ChkParams::Mol& m = params_.mol;
  const auto& b = m.basis;
  for (int64_t i = 0; i < m.NShell; ++i) {
    const int64_t a = b.shell2map[i];
    if (a > m.natoms) VEX_THROW("atom id out of range");
    if (a < 1) continue;
    const double* x = &m.coords[3 * (a - 1)];
    const double dx = x[0] - b.shellx[i], dy = x[1] - b.shelly[i], dz = x[2] - b.shellz[i];
    if (dx * dx + dy * dy + dz * dz > 1e-8) return false;
  }
  return true;
}

void Vexmora::shift_atoms() {
  ChkParams::Mol& m = params_.mol;
  for (int64_t i = 0; i < m.natoms; ++i)
    for (int k = 0; k < 3; ++k) m.coords[3 * i + k] += m.orient_shift[k];
}

void Vexmora::rotate_atoms() {
  ChkParams::Mol& m = params_.mol;
  const auto& M = m.orient_rot;  // M(i, j) = M[i + 3 j]
  for (int64_t i = 0; i < m.natoms; ++i) {
    double* x = &m.coords[3 * i];
    const double x0 = x[0], x1 = x[1], x2 = x[2];
    for (int r = 0; r < 3; ++r) x[r] = M[r] * x0 + M[r + 3] * x1 + M[r + 6] * x2;
  }
}

void Vexmora::copy_shells_to_atoms() {
  ChkParams::Mol& m = params_.mol;
  const auto& b = m.basis;
  for (int64_t i = 0; i < m.NShell; ++i) {
    const int64_t a = b.shell2map[i];
    if (a < 1 || a > m.natoms) continue;
    double* x = &m.coords[3 * (a - 1)];
    x[0] = b.shellx[i], x[1] = b.shelly[i], x[2] = b.shellz[i];
  }
}

void Vexmora::copy_atoms_to_shells() {
  ChkParams::Mol& m = params_.mol;
  auto& b = m.basis;
  for (int64_t i = 0; i < m.NShell; ++i) {
    const int64_t a = b.shell2map[i];
    if (a < 1 || a > m.natoms) continue;
    const double* x = &m.coords[3 * (a - 1)];
    b.shellx[i] = x[0], b.shelly[i] = x[1], b.shellz[i] = x[2];
  }
}

void Vexmora::read_cell() {
  ChkParams::Mol& m = params_.mol;
  m.cell.setZero();
  if (m.ndim <= 0) return;
  for (int i = 0; i < 3; ++i)
    for (int k = 0; k < 3; ++k) m.cell(i, k) = m.coords[3 * (m.natoms + i) + k];
}
