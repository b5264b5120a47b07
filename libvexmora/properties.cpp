// Optional properties of the job: the Cartesian gradient (584), the dipole and
// quadrupole moments with the response properties (619), the Mulliken charges (605) and the atomic masses
// in /Mol/ (997). The layouts were found by matching real checkpoints with
// Gaussian's formatted ones. Each item is left empty, never an error, when its
// record is missing or shorter than the layout needs: files without it read
// as before.
#include <Eigen/Dense>
#include <algorithm>

#include "Properties.h"
#include "Tensors.h"
#include "Utils.h"
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

// The response properties behind the dipole, each with its flag bit.
void read_response(const Vexmora& r, int64_t n, int64_t flags, Properties& out) {
  const int64_t polar = kResponseWord + 9 * n, polder = polar + 6, hyper = polder + 18 * n;
  if (LBit(flags, kDipoleDerivativesBit))
    r.read_record(kMomentsRecord, kResponseWord, 9 * n, out.dipole_derivatives);
  if (LBit(flags, kPolarizabilityBit)) r.read_record(kMomentsRecord, polar, 6, out.polarizability);
  if (LBit(flags, kPolarizabilityDerivativesBit))
    r.read_record(kMomentsRecord, polder, 18 * n, out.polarizability_derivatives);
  if (LBit(flags, kHyperpolarizabilityBit))
    r.read_record(kMomentsRecord, hyper, 10, out.hyperpolarizability);
}

// The masses follow the per-atom arrays of /Mol/, which are longer in the
// newer layouts.
void read_masses(const Vexmora& r, const ChkParams::Mol& m, std::vector<double>& out) {
  std::vector<int64_t> head;
  const int64_t moltyp = r.read_record(kMolRecord, 0, 1, head) ? head[0] : 0;
  int64_t blocks = 0;
  if (moltyp == -12346 || moltyp == -12347) blocks = 7;
  if (moltyp == -12348 || moltyp == -12349) blocks = 16;
  if (blocks > 0) r.read_record(kMolRecord, m.molhdrlen + blocks * (m.natoms + 3), m.natoms, out);
}

}  // namespace

Properties read_properties(const Vexmora& r) {
  const ChkParams::Mol& m = r.metadata().mol;
  const int64_t n = m.natoms;  // bounded by the reader
  Properties out;

  // Kept when zero-filled too (a job without forces): formchk writes it so.
  r.read_record(kGradientRecord, 0, 3 * n, out.gradient);

  r.read_record(kMomentsRecord, kDipoleWord, 3, out.dipole);
  std::vector<int64_t> flags;
  if (r.read_record(kMomentsRecord, 0, 1, flags)) {
    if (LBit(flags[0], kQuadrupoleFlagBit))
      r.read_record(kMomentsRecord, kQuadrupoleBase + kQuadrupolePerAtom * n, 6, out.quadrupole);
    read_response(r, n, flags[0], out);
  }

  r.read_record(kChargesRecord, 1, n, out.mulliken);
  read_masses(r, m, out.atmass);

  if (r.has_orientation()) {
    using namespace tensors;
    const Eigen::Matrix3d M = rotation(m.orient_rot);
    rotate_vectors(out.gradient, M);
    rotate_vectors(out.dipole, M);
    if (!out.quadrupole.empty()) rotate_tensor(out.quadrupole, M);
    rotate_blocks(out.dipole_derivatives, M);
    rotate_triangles(out.polarizability, M);
    rotate_triangle_derivatives(out.polarizability_derivatives, M);
    rotate_rank3(out.hyperpolarizability, M);
  }
  out.sections = read_records(r);
  return out;
}
