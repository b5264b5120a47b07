// Wavefunction type, orbital energies and coefficients, orthonormal basis and
// the method prefix.
#include <string>

#include "Vexmora.h"

namespace {

// Sizes derived from file counts are formed in 128 bits so that no product
// can wrap; anything beyond the file's length cannot be read anyway.
using Wide = __int128;

}  // namespace

WfnType decode_sc(int64_t IOpCl) {
  const int64_t v = IOpCl < 0 ? 0 : IOpCl;
  switch (v) {
    case 0: case 1: case 2: case 3: case 6: case 10: case 11: case 14: case 18: case 22:
      break;
    default:
      VEX_THROW("Illegal IOpCl in decode_sc");
  }
  WfnType w;
  w.unrestricted = (v % 2) == 1;
  w.nspblk = (v % 2) + 1;
  w.NRI = ((v % 4) / 2) + 1;
  w.spinfac = ((v % 8) / 4) + 1;
  return w;
}

void Vexmora::read_orbitals() {
  ChkParams::Mol& m = params_.mol;

  if (find_record(998) != nullptr) {
    IOpCl = IOpClDen = ILSW[0];
    IROHF = ILSW[21];
  }
  const WfnType w = decode_sc(IOpCl);

  // Counts beyond the file's length describe orbitals no record here can
  // hold (and would overflow even 128 bits): such orbitals are simply absent.
  const bool counts_fit = m.nbsuse >= 1 && m.nbasis >= 1 && m.nbsuse <= file_words() &&
                          m.nbasis <= file_words();
  const Wide norb = counts_fit ? Wide(m.nbsuse) * w.spinfac : 0;
  const Wide lenmo = Wide(m.nbasis) * norb * w.spinfac * w.NRI;
  const DirEntry* r522 = find_record(522);
  const DirEntry* r524 = find_record(524);
  const int64_t l522 = r522 ? r522->length() : 0;
  const int64_t l524 = r524 ? r524->length() : 0;
  if (counts_fit && l524 >= lenmo && l522 >= norb) {
    const int64_t no = static_cast<int64_t>(norb), lm = static_cast<int64_t>(lenmo);
    seek_record(*r522);
    read_vec(m.aoene, no, "alpha orbital energies");
    if (w.unrestricted) read_vec(m.boene, no, "beta orbital energies");
    // The coefficients are checked now, in reading order, and read when first used.
    record_offset(*r524);
    checked_count(lm, "alpha MO coefficients");
    const DirEntry* r526 = w.unrestricted ? find_record(526) : nullptr;
    if (r526 != nullptr) record_offset(*r526);
    const DirEntry a = *r524, b = r526 ? *r526 : DirEntry{};
    defer(Bulk::orbitals, [a, b, beta = r526 != nullptr, lm](Vexmora& r) {
      ChkParams::Mol& x = r.params_.mol;
      r.seek_record(a);
      r.read_vec(x.amocoeff, lm, "alpha MO coefficients");
      if (beta) {
        r.seek_record(b);
        r.read_vec(x.bmocoeff, lm, "beta MO coefficients");
      }
    });
    const DirEntry* r685 = find_record(685);
    if (r685 != nullptr && r685->length() > 0 && r685->length() == lm) {
      record_offset(*r685);
      defer(Bulk::orthonormal_basis, [rec = *r685, lm](Vexmora& r) {
        r.seek_record(rec);
        r.read_vec(r.params_.mol.orthbasis, lm, "orthonormal basis");
      });
    }
  }

  // The prefix needs the job description; without record 993 it is skipped.
  const int64_t s = ILSW[21];
  if (params_.info1_9.size() >= 6 && params_.info1_9[5] % 1000 < 200 && s <= 1) {
    std::string prefix;
    if (w.spinfac == 2) {
      prefix = "G";
    } else {
      prefix = w.unrestricted ? "U" : (s == 1 ? "RO" : "R");
      if (w.NRI == 2) prefix += "C";
    }
    params_.method = prefix + params_.method;
  }

  if (IROHF == 1 || IROHF == 2 || (IROHF == 3 && find_record(534) != nullptr)) {
    if (IOpClDen == 0 || IOpClDen == 2) IOpClDen += 1;
  }
}
