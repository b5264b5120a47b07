// The reader's parsed state into an archive and back: a reader travels
// between processes (pickling) without its checkpoint file. Every member the parse fills is
// listed once, in visit_state, for both directions.
#include <string>

#include "StateArchive.h"
#include "Vexmora.h"

namespace {

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
  ar.visit(r.input.dev, r.input.ino);
}

void Vexmora::save_state(StateWriter& out) const {
  load_all();
  visit_state(*this, out);
}

Vexmora Vexmora::restore_state(StateReader& in) {
  Vexmora r;
  visit_state(r, in);
  if (!atoms_fit(r.params_.mol)) StateReader::damaged();
  r.input.path = r.fname;
  return r;
}
