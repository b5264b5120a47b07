// The library's reader: the specified reader with what the library reads of
// the further records, built from it once at load. Everything of the
// specified reader stays as it is; the library's bindings and writers take
// this object.
#pragma once

#include <string>
#include <utility>

#include "Properties.h"
#include "Vexmora.h"

class Reader : public Vexmora {
 public:
  // Parses the file (deferring the large records with defer_bulk, as the
  // specified reader does), then reads the properties while it is open.
  explicit Reader(const std::string& path, bool defer_bulk = false)
      : Vexmora(path, defer_bulk), props_(read_properties(*this)) {}

  const Properties& properties() const { return props_; }

  // The parsed state of both as bytes, and a reader rebuilt from them (no
  // file needed): what pickling carries.
  std::string save_state() const;
  static Reader restore_state(const std::string& bytes);

  // The fuller .fchk: every section formchk writes that the file holds
  // (fchk_full.cpp).
  void write_full_fchk(const std::string& path) const;

 private:
  Reader(Vexmora&& reader, Properties props) : Vexmora(std::move(reader)), props_(std::move(props)) {}
  Properties props_;
};
