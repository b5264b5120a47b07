// The library reader's state as bytes and back: the specified reader's state,
// then the properties read at load.
#include <cstring>
#include <string>

#include "Reader.h"
#include "StateArchive.h"

namespace {

// A new layout: the properties follow the reader's whole state.
constexpr char kMagic[8] = {'V', 'X', 'M', 'S', 'T', 'A', 'T', '2'};

void item(StateWriter& w, const std::vector<FchkSection>& list) {
  w.count(list.size());
  for (const FchkSection& s : list) w.visit(s.label, s.slot, s.real, s.scalar, s.ints, s.reals);
}

void item(StateReader& r, std::vector<FchkSection>& list) {
  list.resize(r.count(8));  // every section takes at least one word
  for (FchkSection& s : list) r.visit(s.label, s.slot, s.real, s.scalar, s.ints, s.reals);
}

// Every member of the properties, once, for both directions.
template <typename P, typename Archive>
void visit_properties(P& p, Archive& ar) {
  ar.visit(p.gradient, p.dipole, p.quadrupole, p.mulliken, p.atmass);
  ar.visit(p.dipole_derivatives, p.polarizability, p.polarizability_derivatives,
           p.hyperpolarizability);
  item(ar, p.sections);
}

}  // namespace

std::string Reader::save_state() const {
  StateWriter w;
  w.out.assign(kMagic, sizeof kMagic);
  Vexmora::save_state(w);
  visit_properties(props_, w);
  return std::move(w.out);
}

Reader Reader::restore_state(const std::string& bytes) {
  if (bytes.size() < sizeof kMagic || std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0)
    StateReader::damaged();
  StateReader rd(bytes.data() + sizeof kMagic, bytes.size() - sizeof kMagic);
  Vexmora reader = Vexmora::restore_state(rd);
  Properties props;
  visit_properties(props, rd);
  if (!rd.done()) StateReader::damaged();
  return Reader(std::move(reader), std::move(props));
}
