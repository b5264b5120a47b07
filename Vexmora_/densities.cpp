// Densities (603): total and spin density of each of the nine density kinds.
#include <cstdint>
#include <string>

#include "Utils.h"
#include "Vexmora.h"

void Vexmora::read_densities() {
  ChkParams::Mol& m = params_.mol;
  if (LBit(ILSW[9], 1)) VEX_THROW("Cannot do natural orbitals yet");
  const WfnType w = decode_sc(IOpClDen);

  const DirEntry* rec = find_record(603);
  if (rec == nullptr) return;

  // nbasis comes from the file and may be anything: bound it by the file
  // first, so that the sizes below fit comfortably in 128 bits.
  const std::string too_large =
      "Size of densities out of range for this file: nbasis= " + std::to_string(m.nbasis);
  if (m.nbasis > file_words() || m.nbasis < -file_words()) VEX_THROW(too_large);
  using Wide = __int128;
  const Wide N = Wide(w.spinfac) * m.nbasis;
  const Wide B = Wide(w.NRI) * N * (N + 1) / 2;
  const Wide len_den = Wide(w.nspblk) * B;
  if (len_den < 1) return;
  if (len_den > INT64_MAX) VEX_THROW(too_large);
  const int64_t LenDen = static_cast<int64_t>(len_den), nb = static_cast<int64_t>(B);

  const int64_t len = rec->length();
  if ((Wide(len) - 1) % LenDen != 0)
    VEX_THROW("Error retrieving densities from rwf= 603, LenDen= " + std::to_string(LenDen) +
              ", but length= " + std::to_string(len));
  seek_record(*rec);
  int64_t sel = 0;
  fs->rw_value(sel);
  const int64_t mask = sel < 0 ? -1 : static_cast<int32_t>(sel >> 32);

  // Each selected block must fit in the file before any is allocated; they
  // are read when first used.
  const bool any = (mask & 0x1ff) != 0;
  if (any && LenDen > file_words()) VEX_THROW(too_large);
  if (!any) return;
  defer(Bulk::densities, [rec = *rec, mask, LenDen, nb, nspblk = w.nspblk](Vexmora& r) {
    r.read_density_blocks(rec, mask, LenDen, nb, nspblk);
  });
}

void Vexmora::read_density_blocks(const DirEntry& rec, int64_t mask, int64_t LenDen, int64_t nb,
                                  int64_t nspblk) {
  ChkParams::Mol& m = params_.mol;
  int64_t slot = 0;  // selected kinds stand back to back after the selection word
  for (int k = 0; k < 9; ++k) {
    if (!LBit(mask, k)) continue;
    const int64_t first = 1 + LenDen * slot++;
    std::vector<double> blk;
    if (first <= file_words() - rec.begin) {
      seek_record(rec, first);
      fs->read_vector(blk, LenDen);
    } else {
      blk.assign(static_cast<size_t>(LenDen), 0.0);
    }
    if (nspblk == 2) {
      for (int64_t i = 0; i < nb; ++i) {
        const double a = blk[i], bb = blk[nb + i];
        blk[i] = a + bb;
        blk[nb + i] = a - bb;
      }
      m.spindens[k].assign(blk.begin() + nb, blk.end());
    }
    blk.resize(static_cast<size_t>(nb));
    m.totdens[k] = std::move(blk);
  }
}
