// The library's fuller .fchk: the specified writer's sections, and in its
// slots every further section formchk writes that the checkpoint holds (the
// properties and further records read at load, the vibrational sections of
// our own analysis), in formchk's order.
#include <algorithm>
#include <initializer_list>
#include <utility>
#include <vector>

#include "FchkWriter.h"
#include "Reader.h"
#include "Vibrations.h"

namespace {

// The sections of `list` in `slot`, in their order.
void write_slot(OutputFile& f, const std::vector<FchkSection>& list, Slot slot) {
  for (const FchkSection& s : list) {
    if (s.slot != slot) continue;
    const char* label = s.label.c_str();
    if (s.scalar && s.real && !s.reals.empty()) write_real(f, label, s.reals[0]);
    else if (s.scalar && !s.real && !s.ints.empty()) write_int(f, label, s.ints[0]);
    else if (!s.scalar && s.real) write_real_array(label, s.reals, f);
    else if (!s.scalar) write_int_array(label, s.ints, f);
  }
}

// Record 501's scalars at `words`, each written where it is not zero.
void write_general(OutputFile& f, const ChkParams& p,
                   std::initializer_list<std::pair<const char*, size_t>> words) {
  for (const auto& [label, k] : words)
    if (k < p.genarr.size() && p.genarr[k] != 0.0) write_real(f, label, p.genarr[k]);
}

// The basis counts formchk adds: the pure/Cartesian flags, the highest
// angular momentum (record 670's header) and the longest contraction.
void write_basis_counts(OutputFile& f, const ChkParams::Mol& m) {
  if (m.basis.shellnprim.empty()) return;
  write_int(f, "Pure/Cartesian d shells", m.bhdr4);
  write_int(f, "Pure/Cartesian f shells", m.bhdr5);
  write_int(f, "Highest angular momentum", m.bhdr1);
  write_int(f, "Largest degree of contraction",
            *std::max_element(m.basis.shellnprim.begin(), m.basis.shellnprim.end()));
}

// The highest nuclear derivative the job computed: 2 with force constants, 1
// with a gradient (a job without forces leaves its record zero), else 0.
int64_t derivative_order(const ChkParams::Mol& m, const Properties& x) {
  if (m.hessian.size() != 0) return 2;
  const bool forces = std::any_of(x.gradient.begin(), x.gradient.end(), [](double g) { return g != 0.0; });
  return forces ? 1 : 0;
}

// The library's sections in the specified writer's slots.
class FullSections : public FchkSlots {
 public:
  // The analysis runs once, on what was deferred, before the file exists.
  explicit FullSections(const Reader& r)
      : r_(r), vib_(vibration_sections(r.params().mol, r.properties())) {}

  void fill(FchkSlot slot, OutputFile& f) const override {
    const ChkParams& p = r_.params();
    const ChkParams::Mol& m = p.mol;
    const Properties& x = r_.properties();
    switch (slot) {
      case FchkSlot::Functions:
        write_int(f, "Number of point charges in /Mol/", m.molhdr9);
        break;
      case FchkSlot::Atoms:
        write_slot(f, x.sections, Slot::BeforeMasses);
        if (!x.atmass.empty()) write_real_array("Real atomic weights", x.atmass, f);
        write_slot(f, x.sections, Slot::AfterMasses);
        break;
      case FchkSlot::Shells:
        write_basis_counts(f, m);
        break;
      case FchkSlot::Switches:
        write_slot(f, x.sections, Slot::Bonds);
        break;
      case FchkSlot::ScfEnergy:
        write_general(f, p, {{"MP2 Energy", 32}});
        break;
      case FchkSlot::TotalEnergy:
        write_general(f, p, {{"PUHF Energy", 15}, {"PMP2-0 Energy", 18},
                             {"Post-SCF wavefunction norm", 41}, {"S**2", 43},
                             {"S**2 after annihilation", 23}, {"S**2 corrected to first order", 44},
                             {"RMS Force", 20}});
        break;
      case FchkSlot::RmsDensity:
        write_slot(f, vib_, Slot::Status);
        write_int(f, "Job Status", 1);  // a checkpoint is written by a job that ran
        write_int(f, "Nuclear derivative order", derivative_order(m, x));
        break;
      case FchkSlot::Densities:
        write_tail(f, p, x);
        break;
    }
  }

 private:
  // Behind the densities, in formchk's order.
  void write_tail(OutputFile& f, const ChkParams& p, const Properties& x) const {
    const ChkParams::Mol& m = p.mol;
    write_slot(f, x.sections, Slot::Internal);
    write_present(f, {{"Mulliken Charges", &x.mulliken}});
    write_slot(f, x.sections, Slot::Path);
    write_present(f, {{"Cartesian Gradient", &x.gradient},
                      {"Cartesian Force Constants", &m.hesstri},
                      {"Dipole Moment", &x.dipole},
                      {"Dipole Derivatives", &x.dipole_derivatives},
                      {"Polarizability", &x.polarizability},
                      {"Polarizability Derivatives", &x.polarizability_derivatives},
                      {"HyperPolarizability", &x.hyperpolarizability},
                      {"Quadrupole Moment", &x.quadrupole}});
    write_slot(f, x.sections, Slot::Tensors);
    write_slot(f, vib_, Slot::Vibrations);
    write_slot(f, x.sections, Slot::Parameters);
    // The version text as the file holds it; none where record 801 is missing.
    if (r_.has_record(801)) write_char_array("Gaussian Version", p.gauver, f);
  }

  const Reader& r_;
  const std::vector<FchkSection> vib_;
};

}  // namespace

void Reader::write_full_fchk(const std::string& path) const {
  write_fchk_with(path, FullSections(*this));
}
