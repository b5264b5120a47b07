// The vibrational sections of the fuller .fchk, from the library's own
// harmonic analysis, laid out as formchk writes them for a frequency job.
#include <algorithm>
#include <exception>

#include "Utils.h"
#include "Vibrations.h"

namespace {

// Vib-E2 holds kE2Blocks blocks of one value per mode: frequencies, reduced
// masses, force constants, IR intensities, Raman activities, the two
// depolarisation ratios, then blocks that a harmonic job leaves zero but for
// block 9, which formchk fills with 100 for every mode.
constexpr int64_t kE2Blocks = 14, kFullBlock = 9;
constexpr int64_t kFlagsPerMode = 8;  // Vib-IFlags: the mode's number third

FchkSection scalar(const char* label, int64_t v) {
  return {label, Slot::Vibrations, false, true, {v}, {}};
}

FchkSection reals(const char* label, std::vector<double> v) {
  return {label, Slot::Vibrations, true, false, {}, std::move(v)};
}

}  // namespace

std::vector<FchkSection> vibration_sections(const ChkParams::Mol& m, const Properties& p) {
  if (m.hessian.size() == 0 || p.atmass.empty()) return {};
  Vibrations v;
  try {
    v = harmonic_vibrations(m.hessian, p.atmass, leading(m.coords, 3 * m.natoms));
    add_intensities(v, p);
  } catch (const std::exception&) {
    return {};  // masses the analysis refuses: the file is written without it
  }
  const auto nm = static_cast<int64_t>(v.frequencies.size());
  if (nm == 0) return {};
  const int64_t n = m.natoms;
  std::vector<int64_t> flags(kFlagsPerMode * nm, 0);
  for (int64_t k = 0; k < nm; ++k) flags[kFlagsPerMode * k + 2] = k + 1;
  std::vector<double> e2(kE2Blocks * nm, 0.0);
  const std::vector<double>* blocks[] = {&v.frequencies,     &v.reduced_masses,
                                         &v.force_constants, &v.ir_intensities,
                                         &v.raman_activities, &v.depolarization_plane,
                                         &v.depolarization_unpolarized};
  for (int64_t b = 0; b < 7; ++b)
    if (static_cast<int64_t>(blocks[b]->size()) == nm)
      std::copy(blocks[b]->begin(), blocks[b]->end(), e2.begin() + b * nm);
  std::fill_n(e2.begin() + kFullBlock * nm, nm, 100.0);
  const double* modes = v.modes.data();  // column k: mode k
  const auto imaginary = static_cast<int64_t>(
      std::count_if(v.frequencies.begin(), v.frequencies.end(), [](double f) { return f < 0.0; }));
  return {{"NImag", Slot::Status, false, true, {imaginary}, {}},
          scalar("Number of Normal Modes", nm),
          scalar("Vib-LE2Fix", kE2Blocks),
          scalar("Vib-NDFDPol", 0),
          scalar("Vib-NumROA", 0),
          scalar("Vib-NDim", n),
          scalar("Vib-NDim0", n),
          scalar("Vib-LFlags", kFlagsPerMode),
          {"Vib-IFlags", Slot::Vibrations, false, false, std::move(flags), {}},
          reals("Vib-AtMass", p.atmass),
          reals("Vib-E2", std::move(e2)),
          reals("Vib-Modes", std::vector<double>(modes, modes + v.modes.size()))};
}
