// Optional properties of the job: the Cartesian gradient (584), the dipole and
// quadrupole moments with the response properties (619), the Mulliken charges (605) and the atomic masses
// in /Mol/ (997). The layouts were found by matching real checkpoints with
// Gaussian's formatted ones. Each item is left empty, never an error, when its
// record is missing or shorter than the layout needs: files without it read
// as before.
#include <Eigen/Dense>
#include <algorithm>

#include "Tensors.h"
#include "Utils.h"
#include "Vexmora.h"
#include "conventions.h"

namespace {

constexpr int64_t kGradientRecord = 584;
constexpr int64_t kMomentsRecord = 619;
constexpr int64_t kChargesRecord = 605;
constexpr int64_t kMolRecord = 997;
// In record 619: the dipole at words 1 to 3, the quadrupole six words from
// 47 + 126 natoms; word 0 flags in its upper half what the job computed, and
// only with bit 12 set does the record hold a quadrupole (formchk leaves it
// out otherwise, as it does not for sections of zeros).
constexpr int64_t kDipoleWord = 1;
constexpr int64_t kQuadrupoleBase = 47, kQuadrupolePerAtom = 126;
constexpr int kQuadrupoleFlagBit = 32 + 12;
// The response properties follow the dipole, each present only with its flag
// bit: dipole derivatives (bit 1) at word 4, 9 per atom; the polarizability
// (bit 2), 6 words; its derivatives (bit 4), 18 per atom; the first
// hyperpolarizability (bit 5), 10 words.
constexpr int64_t kResponseWord = 4;
constexpr int kDipoleDerivativesBit = 32 + 1, kPolarizabilityBit = 32 + 2;
constexpr int kPolarizabilityDerivativesBit = 32 + 4, kHyperpolarizabilityBit = 32 + 5;

// The symmetric tensor turned as M Q M^T.
void rotate_tensor(std::vector<double>& q, const Eigen::Matrix3d& M) {
  q = quadrupole_components(M * quadrupole_matrix(q) * M.transpose());
}

}  // namespace

void Vexmora::read_response(const DirEntry* moments, int64_t flags) {
  ChkParams::Mol& m = params_.mol;
  const int64_t n = m.natoms;
  const int64_t polar = kResponseWord + 9 * n, polder = polar + 6, hyper = polder + 18 * n;
  if (LBit(flags, kDipoleDerivativesBit)) read_items(moments, kResponseWord, 9 * n, m.dipole_derivatives);
  if (LBit(flags, kPolarizabilityBit)) read_items(moments, polar, 6, m.polarizability);
  if (LBit(flags, kPolarizabilityDerivativesBit))
    read_items(moments, polder, 18 * n, m.polarizability_derivatives);
  if (LBit(flags, kHyperpolarizabilityBit)) read_items(moments, hyper, 10, m.hyperpolarizability);
}

void Vexmora::read_properties() {
  ChkParams::Mol& m = params_.mol;
  const int64_t n = m.natoms;  // bounded by read_mol

  // Kept when zero-filled too (a job without forces): formchk writes it so.
  read_items(find_record(kGradientRecord), 0, 3 * n, m.gradient);

  const DirEntry* moments = find_record(kMomentsRecord);
  read_items(moments, kDipoleWord, 3, m.dipole);
  std::vector<int64_t> flags;
  if (read_items(moments, 0, 1, flags)) {
    if (LBit(flags[0], kQuadrupoleFlagBit))
      read_items(moments, kQuadrupoleBase + kQuadrupolePerAtom * n, 6, m.quadrupole);
    read_response(moments, flags[0]);
  }

  read_items(find_record(kChargesRecord), 1, n, m.mulliken);
  if (const DirEntry* mol = find_record(kMolRecord)) read_masses(*mol);

  if (has_orient) {
    using namespace tensors;
    const Eigen::Matrix3d M = rotation(m.orient_rot);
    rotate_vectors(m.gradient, M);
    rotate_vectors(m.dipole, M);
    if (!m.quadrupole.empty()) rotate_tensor(m.quadrupole, M);
    rotate_blocks(m.dipole_derivatives, M);
    rotate_triangles(m.polarizability, M);
    rotate_triangle_derivatives(m.polarizability_derivatives, M);
    rotate_rank3(m.hyperpolarizability, M);
  }
}

void Vexmora::read_masses(const DirEntry& mol) {
  ChkParams::Mol& m = params_.mol;
  const int64_t L = m.natoms + 3;
  std::vector<int64_t> head;
  const int64_t moltyp = read_items(&mol, 0, 1, head) ? head[0] : 0;
  // The masses follow the per-atom arrays, which are longer in the newer layouts.
  int64_t blocks = 0;
  if (moltyp == -12346 || moltyp == -12347) blocks = 7;
  if (moltyp == -12348 || moltyp == -12349) blocks = 16;
  if (blocks > 0) read_items(&mol, m.molhdrlen + blocks * L, m.natoms, m.atmass);
}

template <typename T>
bool Vexmora::read_items(const DirEntry* rec, int64_t first, int64_t count, std::vector<T>& out) {
  out.clear();
  if (rec == nullptr || count < 1 || first < 0) return false;
  // Whole inside the record and inside the file, or not at all.
  const int64_t L = file_words();
  if (rec->begin < 0 || rec->begin > L || rec->end < rec->begin) return false;
  const int64_t last = std::min(rec->end, L) - rec->begin;
  if (first > last || count > last - first) return false;
  // Positioned directly: seek_record would reject a damaged entry, which here
  // only means the item is absent.
  fs->seek((rec->begin + first) * 8);
  if (fs->read_vector(out, count)) return true;
  out.clear();
  return false;
}

template bool Vexmora::read_items(const DirEntry*, int64_t, int64_t, std::vector<int64_t>&);
template bool Vexmora::read_items(const DirEntry*, int64_t, int64_t, std::vector<double>&);
