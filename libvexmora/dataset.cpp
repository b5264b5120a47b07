#include "dataset.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "Reader.h"
#include "Utils.h"
#include "Vibrations.h"
#include "symmetry.h"

namespace {

// The energy of orbital i of a set, where the set has one.
MaybeDouble orbital(const std::vector<double>& energies, int64_t i) {
  if (i < 0 || i >= static_cast<int64_t>(energies.size())) return {};
  return {true, energies[static_cast<size_t>(i)]};
}

void read_molecule(const Reader& r, DatasetRow& row) {
  const ChkParams& p = r.metadata();
  const ChkParams::Mol& m = p.mol;
  row.title = p.title;
  row.route = p.route;
  row.method = p.method;
  row.basis_set = p.baset;
  row.job_type = p.jobtype;
  row.program_version = p.gauver;
  row.charge = m.totchg;
  row.multiplicity = m.multiplicity;
  row.n_basis = m.nbasis;
  row.n_electrons = m.ne;
  row.atomic_numbers = leading(m.atomicnums, std::max<int64_t>(m.natoms, 0));
  row.n_atoms = static_cast<int64_t>(row.atomic_numbers.size());
  for (const int64_t z : leading(m.atomicnums, m.natoms)) row.symbols.emplace_back(element_symbol(z));
  row.formula = hill_formula(row.symbols);
  const int64_t n = std::max<int64_t>(0, std::min<int64_t>(m.natoms, static_cast<int64_t>(m.coords.size() / 3)));
  row.coordinates.resize(static_cast<size_t>(3 * n));
  for (int64_t i = 0; i < 3 * n; ++i) row.coordinates[static_cast<size_t>(i)] = m.coords[static_cast<size_t>(i)] * BOHR_TO_ANGSTROM;
  row.scf_energy = p.scfene();
  row.total_energy = p.totene();
  row.homo = orbital(m.aoene, m.nae - 1);
  row.lumo = orbital(m.aoene, m.nae);
  row.homo_beta = orbital(m.boene, m.nbe - 1);
  row.lumo_beta = orbital(m.boene, m.nbe);
  const Properties& props = r.properties();
  if (props.dipole.size() >= 3) row.dipole.assign(props.dipole.begin(), props.dipole.begin() + 3);
  row.mulliken = props.mulliken;
}

// The point group as Checkpoint.point_group() finds it; throws where it would refuse.
PointGroup group_of(const DatasetRow& row, const std::vector<double>& masses) {
  const auto n = static_cast<size_t>(row.n_atoms);
  if (n < 1 || row.coordinates.size() != 3 * n || (!masses.empty() && masses.size() != n))
    VEX_THROW("no point group of these atoms");
  for (const double x : row.coordinates)
    if (!std::isfinite(x)) VEX_THROW("coordinates that are not finite numbers");
  return detect_point_group(row.atomic_numbers, masses, row.coordinates);
}

void add_thermo(const std::string& path, const Reader& r, const PointGroup& group, const DatasetOptions& o,
                DatasetRow& row) {
  r.load(Bulk::hessian);
  const ChkParams::Mol& m = r.metadata().mol;
  const std::vector<double>& masses = r.properties().atmass;
  if (m.hessian.size() == 0 || masses.empty()) return;
  const Vibrations vib = harmonic_vibrations(m.hessian, masses, leading(m.coords, 3 * m.natoms));
  int64_t sigma = o.symmetry;
  if (o.symmetry == 0) {
    std::string source;
    sigma = gaussian_symmetry_number(row.route, m.orient_b, group.name, group.symmetry_number, path, source, row.note);
  } else if (o.symmetry < 0) {
    sigma = group.symmetry_number;
  }
  const Thermo th = thermochemistry(vib.frequencies, masses, row.coordinates, row.multiplicity, sigma,
                                    o.thermochemistry);
  row.has_thermo = true;
  row.frequencies = vib.frequencies;
  row.n_imaginary = std::count_if(vib.frequencies.begin(), vib.frequencies.end(), [](double f) { return f < 0.0; });
  const double e = row.total_energy;
  row.zpe = th.zero_point_energy;
  row.enthalpy = e + th.harmonic_enthalpy;
  row.gibbs = e + th.harmonic_gibbs_free_energy;
  row.qh_gibbs = e + th.gibbs_free_energy;
}

}  // namespace

std::string hill_formula(const std::vector<std::string>& symbols) {
  std::map<std::string, int64_t> counts;  // alphabetical, as the formula lists them
  for (const std::string& s : symbols) ++counts[s];
  std::string out;
  auto add = [&](const std::string& e, int64_t k) { out += e + (k > 1 ? std::to_string(k) : ""); };
  const bool carbon = counts.count("C") > 0;
  if (carbon)
    for (const char* e : {"C", "H"})
      if (counts.count(e)) add(e, counts[e]);
  for (const auto& [e, k] : counts)
    if (!carbon || (e != "C" && e != "H")) add(e, k);
  return out;
}

DatasetRow dataset_row(const std::string& path, const DatasetOptions& o) {
  try {
    return dataset_row(Reader(path, true), path, o);
  } catch (...) {
    return DatasetRow{};  // the library gives the message
  }
}

DatasetRow dataset_row(const Reader& r, const std::string& path, const DatasetOptions& o) {
  DatasetRow row;
  try {
    read_molecule(r, row);
    // The library reads the route as Unicode (bytes that are not UTF-8 escaped),
    // and decides on symmetry from that text: such a route is left to it.
    if (o.thermo && std::any_of(row.route.begin(), row.route.end(), [](char c) { return (c & 0x80) != 0; }))
      VEX_THROW("a route that is not ASCII");
    if (o.point_group || o.thermo) {
      const PointGroup group = group_of(row, r.properties().atmass);
      if (o.thermo) add_thermo(path, r, group, o, row);
      row.has_group = true;
      row.point_group = group.name;
      row.symmetry_number = group.symmetry_number;
    }
    row.ok = true;
  } catch (...) {
    row = DatasetRow{};  // the library gives the message
  }
  return row;
}
