#include "thermo.h"

#include <Eigen/Dense>
#include <algorithm>
#include <cctype>
#include <cmath>
#include <limits>

#include "codata.h"

namespace {

using namespace codata;
constexpr double kRGas = kBoltzmannJoulePerKelvin * kAvogadro;  // J/(mol K)
constexpr double kCalorie = 4.184;                              // J, thermochemical
constexpr double kAtmosphere = 101325.0;                        // Pa
constexpr double kFreeRotorInertia = 1e-44;                     // Grimme's average moment, kg m^2
// h c / k per cm^-1, and the zero-point energy of 1 cm^-1 in J.
constexpr double kWavenumberJoule = kPlanckJouleSecond * kLightMetrePerSecond * 100.0;

using Part = std::array<double, 3>;  // E J/mol, Cv J/(mol K), S J/(mol K)

// One harmonic oscillator of wavenumber nu (cm^-1, positive): thermal energy
// above the zero point, heat capacity and entropy, in units of R T, R and R.
struct ModeTerms {
  double energy, cv, entropy;
};

ModeTerms mode_terms(double nu, double t) {
  const double x = kWavenumberJoule * nu / (kBoltzmannJoulePerKelvin * t);
  const double em1 = std::expm1(x);
  // Cv as x^2 e^-x / (1 - e^-x)^2: the same number, without inf / inf for a stiff
  // mode at a low temperature.
  const double em1_minus = std::expm1(-x);
  return {x / em1, x * x * std::exp(-x) / (em1_minus * em1_minus), x / em1 - std::log(-em1_minus)};
}

// Grimme's free-rotor entropy (units of R) of a mode of wavenumber nu, cm^-1.
double free_rotor_entropy(double nu, double t) {
  const double mu = kPlanckJouleSecond / (8.0 * kPi * kPi * nu * 100.0 * kLightMetrePerSecond);
  const double mu_eff = mu * kFreeRotorInertia / (mu + kFreeRotorInertia);
  return 0.5 + std::log(std::sqrt(8.0 * kPi * kPi * kPi * mu_eff * kBoltzmannJoulePerKelvin * t /
                                  (kPlanckJouleSecond * kPlanckJouleSecond)));
}

// Rotational temperatures, K, of the principal moments in ascending order
// (infinite for a vanishing moment).
Eigen::Vector3d rotational_temperatures(const std::vector<double>& masses, const std::vector<double>& xyz) {
  const auto n = static_cast<Eigen::Index>(masses.size());
  Eigen::Vector3d centre = Eigen::Vector3d::Zero();
  double total = 0.0;
  for (Eigen::Index i = 0; i < n; ++i) {
    centre += masses[i] * Eigen::Vector3d(xyz[3 * i], xyz[3 * i + 1], xyz[3 * i + 2]);
    total += masses[i];
  }
  centre /= total;
  Eigen::Matrix3d second = Eigen::Matrix3d::Zero();
  for (Eigen::Index i = 0; i < n; ++i) {
    const Eigen::Vector3d r = (Eigen::Vector3d(xyz[3 * i], xyz[3 * i + 1], xyz[3 * i + 2]) - centre) * 1e-10;
    second += masses[i] * kAmuKg * r * r.transpose();
  }
  const Eigen::Matrix3d inertia = second.trace() * Eigen::Matrix3d::Identity() - second;
  const Eigen::Vector3d moments = Eigen::SelfAdjointEigenSolver<Eigen::Matrix3d>(inertia, Eigen::EigenvaluesOnly).eigenvalues();
  Eigen::Vector3d theta;
  for (int k = 0; k < 3; ++k)
    theta[k] = moments[k] == 0.0 ? std::numeric_limits<double>::infinity()
                                 : kPlanckJouleSecond * kPlanckJouleSecond /
                                       (8.0 * kPi * kPi * kBoltzmannJoulePerKelvin * moments[k]);
  return theta;
}

// An ideal gas of particles of `mass` (kg) at the options' pressure, or in the
// volume per particle of their concentration.
Part translation(double mass, const ThermoOptions& o) {
  const double t = o.temperature;
  const double volume = o.concentration > 0.0 ? 1e-3 / (o.concentration * kAvogadro)
                                              : kBoltzmannJoulePerKelvin * t / (o.pressure * kAtmosphere);
  const double q = std::pow(2.0 * kPi * mass * kBoltzmannJoulePerKelvin * t /
                                (kPlanckJouleSecond * kPlanckJouleSecond), 1.5) * volume;
  return {1.5 * kRGas * t, 1.5 * kRGas, kRGas * (std::log(q) + 2.5)};
}

// The rigid rotor of symmetry number sigma; nothing for one atom.
Part rotation(const std::vector<double>& masses, const std::vector<double>& xyz, double t, int64_t sigma,
              bool linear) {
  if (masses.size() == 1) return {0.0, 0.0, 0.0};
  const Eigen::Vector3d theta = rotational_temperatures(masses, xyz);
  const auto s = static_cast<double>(sigma);
  if (linear) return {kRGas * t, kRGas, kRGas * (std::log(t / (s * theta[2])) + 1.0)};
  const double q = std::sqrt(kPi) * std::pow(t, 1.5) / (s * std::sqrt(theta[0] * theta[1] * theta[2]));
  return {1.5 * kRGas * t, 1.5 * kRGas, kRGas * (std::log(q) + 1.5)};
}

struct VibrationSums {
  double energy, damped, cv, entropy, harmonic_entropy;  // J/mol, J/(mol K)
};

// Harmonic oscillators of wavenumbers `real` (cm^-1, as scaled): the energy
// with its zero point, that energy damped (Head-Gordon) or not, Cv, the
// entropy asked for and the harmonic entropy.
VibrationSums vibration(const std::vector<double>& real, const ThermoOptions& o) {
  const double t = o.temperature, rt = kRGas * t;
  VibrationSums s{0.0, 0.0, 0.0, 0.0, 0.0};
  double damping = 0.0, entropy = 0.0;
  for (const double nu : real) {
    const ModeTerms m = mode_terms(nu, t);
    // As in GoodVibes, the cut-off applies to the wavenumbers as computed, before scaling.
    const double computed = nu / o.frequency_scale;
    const double w = 1.0 / (1.0 + std::pow(o.cutoff / computed, 4));
    // The thermal energies hold the zero point of the frequencies as scaled.
    const double e_mode = 0.5 * kWavenumberJoule * kAvogadro * nu + rt * m.energy;
    s.energy += e_mode;
    s.cv += m.cv;
    s.harmonic_entropy += m.entropy;
    if (o.quasi_harmonic == QuasiHarmonic::grimme)
      entropy += w * m.entropy + (1.0 - w) * free_rotor_entropy(nu, t);
    else if (o.quasi_harmonic == QuasiHarmonic::truhlar)
      entropy += mode_terms(std::max(computed, o.cutoff) * o.frequency_scale, t).entropy;
    // Head-Gordon: each mode's energy, its zero point included, damped towards a free rotor's RT/2.
    damping += (1.0 - w) * (0.5 * rt - e_mode);
  }
  s.cv *= kRGas;
  s.harmonic_entropy *= kRGas;
  s.entropy = o.quasi_harmonic == QuasiHarmonic::none ? s.harmonic_entropy : kRGas * entropy;
  s.damped = o.head_gordon ? s.energy + damping : s.energy;
  return s;
}

ThermoRow in_calories(const Part& p) { return {p[0] / kCalorie / 1000.0, p[1] / kCalorie, p[2] / kCalorie}; }

bool is_word(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || (c & 0x80); }
bool is_space(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

// Whether s holds, at i, `word` in any case.
bool word_at(const std::string& s, size_t i, const char* word) {
  for (size_t k = 0; word[k] != '\0'; ++k)
    if (i + k >= s.size() || std::tolower(static_cast<unsigned char>(s[i + k])) != word[k]) return false;
  return true;
}

// The options of "Symm" whose name ends before `i`: "=(...)", "(...)" or "=word";
// the end of them in `end`, or false.
bool symmetry_options(const std::string& s, size_t i, std::string& options, size_t& end) {
  while (i < s.size() && is_space(s[i])) ++i;
  auto parenthesised = [&](size_t open) {
    if (open >= s.size() || s[open] != '(') return false;
    const size_t close = s.find(')', open + 1);
    if (close == std::string::npos) return false;
    options = s.substr(open + 1, close - open - 1);
    end = close + 1;
    return true;
  };
  if (i < s.size() && s[i] == '=') {
    size_t j = i + 1;
    while (j < s.size() && is_space(s[j])) ++j;
    if (parenthesised(j)) return true;
    size_t k = j;
    while (k < s.size() && is_word(s[k])) ++k;
    if (k == j) return false;
    options = s.substr(j, k - j);
    end = k;
    return true;
  }
  return parenthesised(i);
}

// Whether a list of options separated by commas or blanks names "none".
bool names_none(const std::string& options) {
  size_t i = 0;
  while (i < options.size()) {
    while (i < options.size() && (options[i] == ',' || is_space(options[i]))) ++i;
    size_t j = i;
    while (j < options.size() && options[j] != ',' && !is_space(options[j])) ++j;
    if (j - i == 4 && word_at(options, i, "none")) return true;
    i = j;
  }
  return false;
}

}  // namespace

Thermo thermochemistry(const std::vector<double>& frequencies, const std::vector<double>& masses,
                       const std::vector<double>& coordinates, int64_t multiplicity, int64_t sigma,
                       const ThermoOptions& o) {
  const double t = o.temperature;
  const auto n_atoms = static_cast<int64_t>(masses.size());
  Thermo out;
  out.linear = n_atoms == 2 || (n_atoms > 2 && static_cast<int64_t>(frequencies.size()) == 3 * n_atoms - 5);
  double total_mass = 0.0;
  for (const double m : masses) total_mass += m;
  std::vector<double> real;
  double zpe_sum = 0.0;
  const double zpe_scale = o.zpe_scale > 0.0 ? o.zpe_scale : o.frequency_scale;
  for (const double f : frequencies)
    if (f > 0.0) {
      real.push_back(f * o.frequency_scale);
      zpe_sum += f * zpe_scale;
    }
  out.zero_point_energy = 0.5 * kWavenumberJoule * zpe_sum / kHartreeJoule;

  const Part elec{0.0, 0.0, kRGas * std::log(static_cast<double>(std::max<int64_t>(multiplicity, 1)))};
  const Part trans = translation(total_mass * kAmuKg, o);
  const Part rot = rotation(masses, coordinates, t, sigma, out.linear);
  const VibrationSums vib = vibration(real, o);
  const Part vib_row{vib.damped, vib.cv, vib.entropy};
  Part total{};
  for (const Part* p : {&elec, &trans, &rot, &vib_row})
    for (int k = 0; k < 3; ++k) total[k] += (*p)[k];
  out.table = {in_calories(total), in_calories(elec), in_calories(trans), in_calories(rot), in_calories(vib_row)};

  const double per_particle = 1.0 / (kHartreeJoule * kAvogadro);  // Hartree per J/mol
  out.thermal_energy = total[0] * per_particle;
  out.enthalpy = out.thermal_energy + kBoltzmannJoulePerKelvin * t / kHartreeJoule;
  out.harmonic_enthalpy = out.enthalpy + (vib.energy - vib.damped) * per_particle;
  out.entropy = total[2] * per_particle;
  out.harmonic_entropy = (total[2] - vib.entropy + vib.harmonic_entropy) * per_particle;
  out.gibbs_free_energy = out.enthalpy - t * out.entropy;
  out.harmonic_gibbs_free_energy = out.harmonic_enthalpy - t * out.harmonic_entropy;
  return out;
}

bool route_turns_symmetry_off(const std::string& route) {
  const std::string& s = route;
  auto before = [&](size_t i) { return i > 0 ? s[i - 1] : ' '; };
  // NoSymm or NoSymmetry as a word of its own, not an option's value such as Guess=NoSymm.
  for (size_t i = 0; i < s.size(); ++i) {
    const char b = before(i);
    if (!word_at(s, i, "nosymm") || is_word(b) || b == '=' || b == '(' || b == ',') continue;
    size_t end = i;
    while (end < s.size() && is_word(s[end])) ++end;
    if (end - i == 6 || (end - i == 10 && word_at(s, i + 6, "etry"))) return true;
  }
  // Symm or Symmetry with options, one of them None; each search resumes after the last options.
  for (size_t i = 0; i < s.size(); ++i) {
    if (!word_at(s, i, "symm") || is_word(before(i))) continue;
    std::string options;
    size_t end = 0;
    if ((word_at(s, i + 4, "etry") && symmetry_options(s, i + 8, options, end)) ||
        symmetry_options(s, i + 4, options, end)) {
      if (names_none(options)) return true;
      i = end - 1;
    }
  }
  return false;
}

int64_t gaussian_symmetry_number(const std::string& route, int64_t subgroup_order, const std::string& group,
                                 int64_t group_sigma, const std::string& path, std::string& source,
                                 std::string& note) {
  note.clear();
  source = route_turns_symmetry_off(route) ? "route" : subgroup_order == 1 ? "checkpoint" : "geometry";
  if (source == "geometry") return group_sigma;
  if (group_sigma > 1) {
    const char* why = source == "route" ? "the route turned symmetry off"
                                        : "Gaussian ran the job in C1 (the checkpoint's symmetry record)";
    note = (path.empty() ? std::string("checkpoint") : path) + ": warning: " + why +
           ", so the symmetry number is 1 as in Gaussian's output; the geometry is " + group +
           " (symmetry number " + std::to_string(group_sigma) + ": symmetry='geometry')";
  }
  return 1;
}
