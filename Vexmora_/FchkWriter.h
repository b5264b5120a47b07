// The formatted checkpoint writer's pieces for a fuller writer: its section
// writers, in formchk's formats, and the places (slots) where such a writer
// adds sections of its own to the ones the reader always writes.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "OutputFile.h"

// "%-40s   I     %12lld" and "%-40s   R     %22.15E".
void write_int(OutputFile& f, const char* label, int64_t v);
void write_real(OutputFile& f, const char* label, double v);
// An array: its header line with N=, then 6 integers, 5 reals or 5 items of
// 12 characters to a line.
void write_int_array(const char* label, const std::vector<int64_t>& v, OutputFile& f);
void write_real_array(const char* label, const std::vector<double>& v, OutputFile& f);
void write_char_array(const char* label, const std::vector<char>& v, OutputFile& f);
void write_char_array(const char* label, const std::string& s, OutputFile& f);
// The real arrays among `sections` that are not empty, in the order given.
void write_present(OutputFile& f,
                   std::initializer_list<std::pair<const char*, const std::vector<double>*>> sections);

// The places of the file, in its order, each behind the sections named.
enum class FchkSlot {
  Functions,    // "Number of independent functions"
  Atoms,        // the coordinates (and translation vectors)
  Shells,       // "Number of primitive shells"
  Switches,     // ILSW and RLSW
  ScfEnergy,    // "SCF Energy"
  TotalEnergy,  // "Total Energy"
  RmsDensity,   // "RMS Density"
  Densities,    // the last density: the end of the file
};

// What a fuller writer adds; Vexmora::write_fchk_with calls fill once per
// slot, in the file's order, after everything deferred was read.
class FchkSlots {
 public:
  virtual ~FchkSlots() = default;
  virtual void fill(FchkSlot slot, OutputFile& f) const = 0;
};
