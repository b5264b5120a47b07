// The parsed state as bytes and back: a reader travels between processes
// (pickling) without its checkpoint file. Every member the parse fills is
// listed once, in visit_state, for both directions.
#include <cstring>
#include <string>
#include <type_traits>

#include "Vexmora.h"

namespace {

constexpr char kMagic[8] = {'V', 'X', 'M', 'S', 'T', 'A', 'T', '1'};

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
  void item(const FchkSection& s) { visit(s.label, s.slot, s.real, s.scalar, s.ints, s.reals); }
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

 private:
  void count(size_t n) { item(static_cast<int64_t>(n)); }
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
  void item(FchkSection& s) { visit(s.label, s.slot, s.real, s.scalar, s.ints, s.reals); }
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

 private:
  [[noreturn]] static void damaged() { VEX_THROW("Damaged checkpoint state"); }
  // A count, checked against the bytes left before it sizes anything.
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

// The writers index the per-atom arrays by natoms: a state whose arrays are
// shorter than its count would send them past the end.
bool atoms_fit(const ChkParams::Mol& m) {
  const auto n = static_cast<uint64_t>(m.natoms);
  return m.natoms >= 1 && n <= m.atomicnums.size() && n <= m.coords.size() / 3;
}

}  // namespace

template <typename Self, typename Archive>
void Vexmora::visit_state(Self& r, Archive& ar) {
  auto& p = r.params_;
  auto& m = p.mol;
  auto& b = m.basis;
  ar.visit(r.fname, r.dir, r.header_record, r.ILSW, r.RLSW, r.has_orient, r.IOpClDen, r.IOpCl,
           r.IROHF);
  ar.visit(p.route, p.gauver, p.title, p.jobtype, p.method, p.baset, p.genarr, p.info1_9);
  ar.visit(m.molhdrlen, m.natoms, m.totchg, m.multiplicity, m.nae, m.nbe, m.ne, m.nbasis,
           m.nbsuse, m.molhdr9, m.ndim, m.molhdr11, m.molhdr12, m.molhdr13, m.molhdr14,
           m.molhdr15, m.NShell, m.bhdr1, m.NPrim, m.bhdr3, m.bhdr4, m.bhdr5);
  ar.visit(m.atomicnums, m.atomtypes, m.nucchg, m.coords, m.aoene, m.boene, m.amocoeff,
           m.bmocoeff, m.orthbasis, m.concoeff, m.spconcoeff, m.cshell, m.orblabels, m.totdens,
           m.spindens);
  ar.visit(b.primexp, b.primconc, b.primspconc, b.hiconc1, b.hiconc2, b.shellhiptr, b.shellx,
           b.shelly, b.shellz, b.shell2map, b.shellprimptr, b.shellnprim, b.shelltypes,
           b.shellcons, b.shellaux2, b.shellaux3, b.shellaux4, b.shellaux5);
  ar.visit(m.orient_a, m.orient_b, m.orient_ints, m.orient_rot, m.orient_shift, m.hesstri,
           m.hessian, m.cell);
  ar.visit(m.gradient, m.dipole, m.quadrupole, m.mulliken, m.atmass);
  ar.visit(m.dipole_derivatives, m.polarizability, m.polarizability_derivatives,
           m.hyperpolarizability);
  ar.visit(p.sections);
  ar.visit(r.input.dev, r.input.ino);
}

std::string Vexmora::save_state() const {
  load_all();
  StateWriter w;
  w.out.assign(kMagic, sizeof kMagic);
  visit_state(*this, w);
  return std::move(w.out);
}

Vexmora Vexmora::restore_state(const std::string& bytes) {
  if (bytes.size() < sizeof kMagic || std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0)
    VEX_THROW("Damaged checkpoint state");
  Vexmora r;
  StateReader rd(bytes.data() + sizeof kMagic, bytes.size() - sizeof kMagic);
  visit_state(r, rd);
  if (!rd.done() || !atoms_fit(r.params_.mol)) VEX_THROW("Damaged checkpoint state");
  r.input.path = r.fname;
  return r;
}
