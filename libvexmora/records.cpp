// The records behind formchk's further sections: /Mol/'s per-atom arrays
// (997), the redundant internals (665), the symmetry and input orientation
// (551), the bond table (503), the internal forces (511), the optimisation or
// trajectory path (701), the ONIOM layers (674), the magnetic tensors (695) and
// the classical parameters (800). The layouts were found by matching the
// checkpoints of G16 A.03 to C.01 with Gaussian's formatted ones. A section is
// kept only whole: a record too short, a count out of range or a flag off
// leaves it out, never an error.
#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>

#include "Properties.h"
#include "Tensors.h"
#include "Utils.h"

namespace {

using Words = std::vector<int64_t>;
using Mol = ChkParams::Mol;

// A record, read piece by piece from the file as its sections need it.
struct Record {
  int64_t size = 0;  // words that the record and the file hold
  std::function<bool(int64_t, int64_t, Words&)> read;

  int64_t word(int64_t i) const {
    Words w;
    return i < size && read(i, 1, w) ? w[0] : 0;
  }
};

// Words first .. first + count of r, as integers or as the reals they hold;
// false, out empty, when they do not lie within r.
bool slice(const Record& r, int64_t first, int64_t count, Words& out) {
  out.clear();
  if (first < 0 || count < 0 || first > r.size || count > r.size - first) return false;
  return count == 0 || r.read(first, count, out);
}

bool slice(const Record& r, int64_t first, int64_t count, std::vector<double>& out) {
  Words bits;
  out.clear();
  if (!slice(r, first, count, bits)) return false;
  out.resize(bits.size());
  if (!bits.empty()) std::memcpy(out.data(), bits.data(), bits.size() * sizeof(double));
  return true;
}

double real_at(const Record& r, int64_t i) {
  std::vector<double> d;
  return slice(r, i, 1, d) ? d[0] : 0.0;
}

// A product of two counts from the file, or -1 when it overflows.
int64_t product(int64_t a, int64_t b) {
  int64_t p = 0;
  return a < 0 || b < 0 || __builtin_mul_overflow(a, b, &p) ? -1 : p;
}

// Appends sections to one slot of the list.
class Out {
 public:
  Out(std::vector<FchkSection>& list, Slot slot) : list_(list), slot_(slot) {}
  void to(Slot slot) { slot_ = slot; }

  void scalar(const std::string& label, int64_t v) { add(label, false, true, {v}, {}); }
  void scalar(const std::string& label, double v) { add(label, true, true, {}, {v}); }
  void array(const std::string& label, Words v) { add(label, false, false, std::move(v), {}); }
  void array(const std::string& label, std::vector<double> v) {
    add(label, true, false, {}, std::move(v));
  }
  // Words first .. first + count of w, when w holds them.
  template <typename T>
  bool words(const std::string& label, const Record& w, int64_t first, int64_t count) {
    std::vector<T> v;
    if (!slice(w, first, count, v)) return false;
    array(label, std::move(v));
    return true;
  }

 private:
  void add(const std::string& label, bool real, bool scalar, Words ints, std::vector<double> reals) {
    list_.push_back({label, slot_, real, scalar, std::move(ints), std::move(reals)});
  }
  std::vector<FchkSection>& list_;
  Slot slot_;
};

// /Mol/: per-atom segments of n words, L = n + 3 apart from the header on;
// confirmed for the two newest layouts, whose last segment is MicOpt.
void mol_arrays(const Record& w, const Mol& m, Out& out) {
  const int64_t moltyp = w.word(0);
  const int64_t last = moltyp == -12348 ? 41 : moltyp == -12349 ? 49 : -1;
  if (last < 0) return;
  const int64_t n = m.natoms, L = n + 3;
  const auto at = [&](int64_t k) { return m.molhdrlen + k * L; };
  out.to(Slot::BeforeMasses);
  out.words<int64_t>("Int Atom Types", w, at(5), n);
  out.words<int64_t>("Integer atomic weights", w, at(6), n);
  out.to(Slot::AfterMasses);
  out.words<int64_t>("Nuclear spins", w, at(9), n);
  out.words<double>("Nuclear ZEff", w, at(18), n);
  out.words<double>("Nuclear ZNuc", w, at(21), n);
  out.words<double>("Nuclear QMom", w, at(19), n);
  out.words<double>("Nuclear GFac", w, at(20), n);
  out.words<int64_t>("MicOpt", w, at(last), n);
}

// 665: dimensions (N first), 4 N indices, then N each of the values, their
// integer and real codes and the two constraint arrays.
void internals(const Record& w, Out& out) {
  const int64_t N = w.size >= 4 ? w.word(0) : 0;
  if (N < 1 || N > w.size / 4) return;
  out.to(Slot::AfterMasses);
  out.words<int64_t>("Redundant internal dimensions", w, 0, 4);
  out.words<int64_t>("Redundant internal coordinate indices", w, 4, 4 * N);
  const int64_t v = 4 + 4 * N;
  out.words<double>("Redundant internal coordinates", w, v, N);
  out.words<int64_t>("ZRed-IntVec", w, v + N, N);
  out.words<double>("ZRed-FPVec", w, v + 2 * N, N);
  out.words<double>("ZRed-Constraint1", w, v + 3 * N, N);
  out.words<double>("ZRed-Constraint2", w, v + 4 * N, N);
}

// 551: 26 symmetry integers, the rotation (column after column) and the shift
// into the standard orientation; formchk gives the way back, rotation
// transposed and shift negated.
void symmetry(const Record& w, Out& out) {
  out.to(Slot::AfterMasses);
  out.words<int64_t>("SymInf integers", w, 0, 26);
  std::vector<double> r;
  if (!slice(w, 26, 12, r)) return;
  std::vector<double> back(12);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) back[3 * i + j] = r[i + 3 * j];
  for (int k = 0; k < 3; ++k) back[9 + k] = -r[9 + k];
  out.array("RotTr to input orientation", std::move(back));
}

// 503: n (low half of word 0) and MxBond (high half), the bond counts, then
// MxBond partners and bond orders per atom.
void bonds(const Record& w, const Mol& m, Out& out) {
  const int64_t head = w.word(0), n = head & 0xffffffff;
  const int64_t mx = static_cast<int64_t>(static_cast<uint64_t>(head) >> 32);
  const int64_t table = product(n, mx), room = w.size - 1 - n;
  if (w.size < 1 || n != m.natoms || table < 0 || room < 0 || table > room / 2) return;
  out.to(Slot::Bonds);
  out.scalar("MxBond", mx);
  out.words<int64_t>("NBond", w, 1, n);
  out.words<int64_t>("IBond", w, 1 + n, table);
  out.words<double>("RBond", w, 1 + n + table, table);
}

// 511: the energy, NVar and IGetFC, then NVar forces and their triangle of
// force constants in the redundant internals.
void internal_forces(const Record& w, Out& out) {
  if (w.size < 3) return;
  const int64_t nv = w.word(1), triangle = product(nv, nv + 1);
  out.to(Slot::Internal);
  out.scalar("Grdnt Energy", real_at(w, 0));
  out.scalar("Grdnt NVar", nv);
  out.scalar("Grdnt IGetFC", w.word(2));
  if (nv < 1 || nv > w.size || triangle < 0) return;
  out.words<double>("Internal Forces", w, 3, nv);
  out.words<double>("Internal Force Constants", w, 3 + nv, triangle / 2);
}

std::string numbered(const char* prefix, int64_t k, const char* what) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%s%8lld %s", prefix, static_cast<long long>(k), what);
  return std::string(buf).substr(0, 40);  // formchk cuts its labels at 40
}

// 701, word 0 = 11 an optimisation, 15 a trajectory (ADMP): MaxStp, MaxJob,
// NRes, NVar, the job offset, the number of geometries; from word 9 MaxStp
// blocks of NRes results, of NVar coordinates, of NVar gradients (momenta for
// a trajectory). The geometries of one job make one "point"; several jobs, a
// layout not seen, are left out. Formchk writes a trajectory's energies (the
// fifth result) against a reference, the first one truncated toward zero.
void path(const Record& w, Out& out) {
  Words h;
  if (!slice(w, 0, 9, h) || (h[0] != 11 && h[0] != 15) || h[2] != 1) return;
  const bool opt = h[0] == 11;
  const std::string name = opt ? "Optimization " : "Trajectory ";
  const char* point = opt ? "Opt point" : "Traj num";
  const int64_t maxstp = h[1], nres = h[3], nvar = h[4], steps = h[8];
  if (nres < 0 || nvar < 0 || nres > w.size || nvar > w.size) return;
  const int64_t per = product(maxstp, nres + 2 * nvar);
  if (steps < 0 || steps > maxstp || per < 0 || per > w.size - 9) return;
  const int64_t geo = 9 + maxstp * nres, grad = geo + maxstp * nvar;
  out.to(Slot::Path);
  out.scalar(name + "MaxStp", maxstp);
  if (!opt) out.scalar(name + "MaxJob", h[2]);
  out.scalar(name + "Job offset", h[5]);
  out.scalar(name + "Num results per geometry", nres);
  out.scalar(name + "Num geometry variables", nvar);
  std::vector<double> results;
  if (!slice(w, 9, steps * nres, results)) return;
  if (!opt && nres >= 5 && steps >= 1) {
    const double reference = std::trunc(results[4]);
    out.scalar(name + "Reference Energy", reference);
    for (int64_t k = 0; k < steps; ++k) results[k * nres + 4] -= reference;
  }
  out.array(numbered(point, 1, "Results for each geometry"), std::move(results));
  out.words<double>(numbered(point, 1, "Geometries"), w, geo, steps * nvar);
  out.words<double>(numbered(point, 1, opt ? "Gradient at each geometry" : "Momentum at each geometry"),
                    w, grad, steps * nvar);
  out.array(name + "Number of geometries", Words{steps});
}

// 674: 16 charges and 16 multiplicities of the ONIOM levels, the atoms' layers.
void oniom(const Record& w, const Mol& m, Out& out) {
  out.to(Slot::Path);
  out.words<int64_t>("ONIOM Charges", w, 0, 16);
  out.words<int64_t>("ONIOM Multiplicities", w, 16, 16);
  out.words<int64_t>("Atom Layers", w, 32, m.natoms);
}

// 695, flags in the upper half of word 0: per-atom triangles of the
// anisotropic hyperfine tensors (bit 4) and of the quadrupole coupling
// tensors (bit 7), the isotropic splittings (bit 5).
void magnetic(const Record& w, const Mol& m, const Eigen::Matrix3d* M, Out& out) {
  const int64_t n = m.natoms, flags = w.word(0);
  out.to(Slot::Tensors);
  const auto tensors = [&](const char* label, int bit, int64_t first) {
    std::vector<double> t;
    if (!LBit(flags, 32 + bit) || !slice(w, first, 6 * n, t)) return;
    if (M != nullptr) tensors::rotate_triangles(t, *M);
    out.array(label, std::move(t));
  };
  tensors("Anisotropic Hyperfine tensors", 4, 28 + 15 * n);
  if (LBit(flags, 32 + 5)) out.words<double>("Isotropic Hyperfine splittings", w, 28 + 21 * n, n);
  tensors("QEq coupling tensors", 7, 28 + 25 * n);
}

// 800: MaxAn, NIntPar, NRealPar, NBits, LenBitVec at words 1 to 5; from word
// 16 the read and the default bitmaps, the integer and the real parameters.
void parameters(const Record& w, Out& out) {
  Words h;
  if (!slice(w, 0, 16, h)) return;
  const int64_t maxan = h[1];
  const int64_t sizes[4] = {product(maxan, h[5]), product(maxan, h[5]), product(maxan, h[2]),
                            product(maxan, h[3])};
  out.to(Slot::Parameters);
  const char* heads[5] = {"MaxAn", "NIntPar", "NRealPar", "NBits", "LenBitVec"};
  for (int k = 0; k < 5; ++k) out.scalar(std::string("ClPar ") + heads[k], h[1 + k]);
  const char* arrays[4] = {"ClPar Read BitMap", "ClPar Default BitMap", "ClPar Int Params",
                           "ClPar Real Params"};
  int64_t at = 16;
  for (int k = 0; k < 4; ++k) {
    const bool ok = k < 3 ? out.words<int64_t>(arrays[k], w, at, sizes[k])
                          : out.words<double>(arrays[k], w, at, sizes[k]);
    if (!ok) return;
    at += sizes[k];
  }
}

}  // namespace

std::vector<FchkSection> read_records(const Vexmora& reader) {
  const Mol& m = reader.metadata().mol;
  std::vector<FchkSection> list;
  if (m.natoms < 1) return list;
  Out out(list, Slot::BeforeMasses);
  const auto record = [&reader](int64_t label) {
    Record r;
    r.size = reader.record_words(label);
    r.read = [&reader, label](int64_t first, int64_t count, Words& w) {
      return reader.read_record(label, first, count, w);
    };
    return r;
  };
  mol_arrays(record(997), m, out);
  internals(record(665), out);
  symmetry(record(551), out);
  bonds(record(503), m, out);
  internal_forces(record(511), out);
  path(record(701), out);
  oniom(record(674), m, out);
  const Eigen::Matrix3d M = tensors::rotation(m.orient_rot);
  magnetic(record(695), m, reader.has_orientation() ? &M : nullptr, out);
  parameters(record(800), out);
  return list;
}
