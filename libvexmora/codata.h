// Physical constants: CODATA 2010, Gaussian 16's default set, so that derived
// numbers match the ones Gaussian prints.
#pragma once

namespace codata {
constexpr double kHartreeJoule = 4.35974434e-18;
constexpr double kBohrMetre = 0.52917721092e-10;
constexpr double kAmuKg = 1.660538921e-27;
constexpr double kLightMetrePerSecond = 299792458.0;
constexpr double kPlanckJouleSecond = 6.62606957e-34;
constexpr double kBoltzmannJoulePerKelvin = 1.3806488e-23;
constexpr double kAvogadro = 6.02214129e23;
constexpr double kElementaryChargeCoulomb = 1.602176565e-19;
constexpr double kPi = 3.14159265358979323846;
}  // namespace codata
