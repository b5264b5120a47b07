// libFuzzer target over the whole path: the input bytes become a checkpoint
// file, the reader parses it, its saved state makes the round trip, every
// writer of the format table writes into a scratch directory and the vibrational analysis runs.
// _Error is the expected rejection of a bad file; anything else (a crash, a
// sanitizer report, another exception) is a finding.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include "Error.h"
#include "NaturalOrbitals.h"
#include "Reader.h"
#include "Utils.h"
#include "Vibrations.h"
#include "cube_writer.h"
#include "dataset.h"
#include "density.h"
#include "esp_writer.h"
#include "formats.h"
#include "grid.h"
#include "potential.h"
#include "wavefunction.h"

namespace {

// One scratch directory per process, on tmpfs where there is one: the target
// writes a file per format per input and should not wear a disk. Removed at exit.
struct Scratch {
  std::string dir = access("/dev/shm", W_OK) == 0 ? "/dev/shm/vexmora-fuzz-XXXXXX"
                                                  : "/tmp/vexmora-fuzz-XXXXXX";
  Scratch() {
    output_formats();  // its table is then destroyed after this, which reads it
    if (mkdtemp(&dir[0]) == nullptr) std::abort();
    // The format table is built first, so that it outlives this object: the
    // destructor reads it.
    (void)output_formats();
  }
  ~Scratch() {
    for (const char* f : {"/in.chk", "/out.cube"}) unlink((dir + f).c_str());
    for (const OutputFormat& f : output_formats()) unlink((dir + "/out" + f.suffix).c_str());
    rmdir(dir.c_str());
  }
};

void write_input(const std::string& path, const uint8_t* data, size_t size) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, f) != size) std::abort();
  if (std::fclose(f) != 0) std::abort();
}

std::string first_line(const char* report) {
  const std::string s = report;
  return s.substr(0, s.find('\n'));
}

}  // namespace

// The reader's warnings go to standard output; libFuzzer reports on standard
// error, and a warning per input would only slow the campaign down.
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  if (std::freopen("/dev/null", "w", stdout) == nullptr) std::abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const Scratch scratch;
  const std::string& dir = scratch.dir;
  const std::string chk = dir + "/in.chk";
  write_input(chk, data, size);
  // The reader that defers the large records refuses the same files at load,
  // with the same message, and once it has read them holds the same state.
  std::unique_ptr<const Reader> v, deferring;
  std::string refused[2];
  try {
    v = std::make_unique<const Reader>(chk);
  } catch (const _Error& e) {
    refused[0] = first_line(e.what());
  }
  try {
    auto r = std::make_unique<Reader>(chk, true);
    r->release_file();
    deferring = std::move(r);
  } catch (const _Error& e) {
    refused[1] = first_line(e.what());
  }
  if (refused[0] != refused[1]) std::abort();
  if (!v) return 0;  // a rejected file: the message is the whole result
  try {
    if (deferring->save_state() != v->save_state()) std::abort();
  } catch (const _Error&) {
    std::abort();  // the file did not change: reading later must succeed
  }
  // Each step may refuse what it cannot write; the others still run.
  const auto attempt = [](const auto& step) {
    try {
      step();
    } catch (const _Error&) {
    }
  };
  attempt([&] {
    // The saved state (what pickling carries) must come back the same.
    const std::string state = v->save_state();
    if (Reader::restore_state(state).save_state() != state) std::abort();
  });
  attempt([&] { v->write_fchk(dir + "/out.fchk"); });
  for (const OutputFormat& f : output_formats()) attempt([&] { f.write(*v, dir + "/out" + f.suffix); });
  attempt([&] { write_molden_natural(*v, dir + "/natural.molden"); });
  attempt([&] { write_wfn(*v, dir + "/natural.wfn", WavefunctionOptions{true, true}); });
  attempt([&] { write_wfn(*v, dir + "/spins.wfn", WavefunctionOptions{false, true}); });
  attempt([&] { orthonormality_error(v->params().mol); });
  attempt([&] {
    // The first orbital and the SCF density on a small box, on two threads.
    const ChkParams::Mol& m = v->params().mol;
    GridBox box;
    for (int k = 0; k < 3; ++k) box.origin[k] = -1.0, box.axes[4 * k] = 0.7, box.shape[k] = 4;
    std::vector<double> values(static_cast<size_t>(box.points()));
    PointValues::orbitals(m, {0}, false).evaluate(BoxPlanes(box, 0, 4), values.data(), 2);
    write_cube(dir + "/out.cube", *v, v->params().title, "orbital", box, {1}, values.data(), 2);
    for (const bool spin : {false, true}) {  // stored, or built from the orbitals
      const std::vector<double> tri = density_triangle(m, 0, spin);
      if (!tri.empty()) PointValues::density(m, tri).evaluate(BoxPlanes(box, 0, 4), values.data(), 2);
    }
    // The potential of the SCF density on the same box, and its ESP file.
    const std::vector<double> tri = density_triangle(m, 0, false);
    if (tri.empty()) return;
    Potential(m, tri, true).evaluate(BoxPlanes(box, 0, 4), values.data(), 2);
    std::vector<double> xyz(3 * static_cast<size_t>(box.points()));
    for (int64_t p = 0; p < box.points(); ++p)
      for (int k = 0; k < 3; ++k) xyz[3 * p + k] = box.origin[k] + 0.7 * ((p >> (2 * (2 - k))) & 3);
    const std::vector<double> charges(static_cast<size_t>(m.natoms), 0.0);
    write_esp(*v, dir + "/out.esp", charges, xyz.data(), values.data(), box.points());
  });
  attempt([&] {
    const ChkParams::Mol& m = v->params().mol;
    harmonic_vibrations(m.hessian, v->properties().atmass, leading(m.coords, 3 * m.natoms));
  });
  // The dataset's row, thermochemistry included, never throws; the quasi-harmonic
  // variants and a given concentration take the other paths.
  for (const QuasiHarmonic qh : {QuasiHarmonic::grimme, QuasiHarmonic::truhlar}) {
    DatasetOptions o;
    o.thermochemistry.quasi_harmonic = qh;
    o.thermochemistry.head_gordon = qh == QuasiHarmonic::truhlar;
    o.thermochemistry.concentration = qh == QuasiHarmonic::truhlar ? 1.0 : 0.0;
    o.symmetry = qh == QuasiHarmonic::truhlar ? -1 : 0;
    dataset_row(chk, o);
  }
  return 0;
}
