// Gaussian cube files of values on a box of points.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Vexmora.h"
#include "grid.h"

// Two title lines, the box, the atoms of `m` in Bohr, for an orbital cube the
// orbital line (`orbitals`, 1-based; empty for a density), then `values`
// (box.points() of them, the third axis fastest) in 6E13.5, formatted on
// `threads` threads (at least one).
void write_cube(const std::string& path, const Vexmora& reader, const std::string& title,
                const std::string& comment, const GridBox& box,
                const std::vector<int64_t>& orbitals, const double* values, int threads);
