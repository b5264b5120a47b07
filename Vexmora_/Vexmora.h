// The checkpoint reader: opens a Gaussian binary checkpoint (.chk) and parses
// the whole file in its constructor, in a fixed order of reading steps.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ChkParams.h"
#include "Error.h"
#include "FileSerializer.h"
#include "OutputFile.h"

class OutputFile;

// One directory entry; begin and end are word offsets.
struct DirEntry {
  int64_t label = 0, begin = 0, end = 0, aux = 0;
  // The words come from the file unchecked: the difference saturates rather
  // than overflow.
  int64_t length() const {
    int64_t d = 0;
    if (__builtin_sub_overflow(end, begin, &d)) return end < begin ? INT64_MIN : INT64_MAX;
    return d;
  }
};

// The factors decoded from a wavefunction-type code (IOpCl).
struct WfnType {
  int64_t NRI = 1, spinfac = 1, nspblk = 1;
  bool unrestricted = false;
};
WfnType decode_sc(int64_t IOpCl);

// The large records, which a reader may leave unread until they are used.
enum class Bulk { orbitals, orthonormal_basis, densities, hessian };
constexpr int kBulkKinds = 4;

class Vexmora {
 public:
  // Parses the whole file. With defer_bulk, the large records are checked
  // (inside the file, lengths consistent) but read only on first use, from
  // the file as it was at load: changed since, it is refused then.
  explicit Vexmora(const std::string& fname, bool defer_bulk = false);
  Vexmora(Vexmora&&) = default;
  ~Vexmora();

  // The parsed state as bytes, and a reader rebuilt from them (no file needed).
  std::string save_state() const;
  static Vexmora restore_state(const std::string& bytes);
  // Closes the checkpoint file: everything else was read in the constructor.
  void release_file() { fs.reset(); }

  // Reads what was deferred of kind b, or of every kind; thread-safe, and at
  // once done for a reader that deferred nothing.
  void load(Bulk b) const;
  void load_all() const;

  // Everything the file holds.
  const ChkParams& params() const {
    load_all();
    return params_;
  }
  // The same without reading what was deferred: the arrays of the large
  // records may still be empty; load() fills them.
  const ChkParams& metadata() const { return params_; }
  const std::vector<int64_t>& ilsw() const { return ILSW; }
  const std::vector<double>& rlsw() const { return RLSW; }

  // The sections of Gaussian's formchk that the reader always wrote; with
  // full, also the Hessian, gradient, moments, charges and masses.
  void write_fchk(const std::string& path) const { write_fchk_sections(path, false); }
  void write_full_fchk(const std::string& path) const { write_fchk_sections(path, true); }
  void write_gjf(const std::string& path) const;

  // Every writer opens its file here, so that none replaces the checkpoint read.
  OutputFile output(const std::string& path) const { return OutputFile(path, input); }

 private:
  Vexmora() = default;  // for restore_state
  template <typename Self, typename Archive>
  static void visit_state(Self& r, Archive& ar);

  // Reading steps, in constructor order.
  void read_header();
  void read_genarr();
  void read_label();
  void read_mol();
  void read_hessian();
  void fix_basis();
  // Coefficient access of one shell and angular momentum.
  std::vector<double> GetCCB(int64_t shell, int64_t L) const;
  void PutCCB(int64_t shell, int64_t L, const std::vector<double>& coefs);
  void convert_cc(int64_t from_type, int64_t to_type, int64_t renorm);
  void read_densities();
  void read_density_blocks(const DirEntry& rec, int64_t mask, int64_t LenDen, int64_t nb,
                           int64_t nspblk);
  void read_properties();

  // Pieces of read_label.
  void read_title_route(const DirEntry& rec);
  void read_job(const DirEntry& rec);
  void read_version(const DirEntry& rec);

  // Pieces of read_mol.
  void read_mol_header(const DirEntry& rec);
  void read_basis_record(const DirEntry& rec);
  void read_orientation(const DirEntry& rec);
  void reconcile_orientation(bool with_basis);
  void read_orbitals();
  void read_cell();
  bool check_coor() const;
  void shift_atoms();
  void rotate_atoms();
  void copy_shells_to_atoms();
  void copy_atoms_to_shells();

  // Pieces of read_properties.
  // Words first .. first + count of a record into out; false, out empty, when
  // they do not lie wholly inside the record and the file.
  template <typename T>
  bool read_items(const DirEntry* rec, int64_t first, int64_t count, std::vector<T>& out);
  void read_masses(const DirEntry& mol);
  void read_response(const DirEntry* moments, int64_t flags);
  // The sections of the fuller .fchk from records nothing else reads.
  void read_records();

  void write_fchk_sections(const std::string& path, bool full) const;
  void write_full_tail(OutputFile& f) const;

  // Deferred reading. A step reads into the reader it is given (never a
  // pointer of its own: readers move).
  using Step = std::function<void(Vexmora&)>;
  struct Deferred;
  // Runs step now, or, when reading is deferred, on the first load(b).
  void defer(Bulk b, Step step);
  void reopen_unchanged();

  // Directory and record access.
  const DirEntry* find_record(int64_t label) const;
  // The byte offset of a word of a record, refused outside the file.
  int64_t record_offset(const DirEntry& rec, int64_t word = 0) const;
  void seek_record(const DirEntry& rec, int64_t word = 0) { fs->seek(record_offset(rec, word)); }
  int64_t file_words() const { return dir.empty() ? 0 : dir[0].begin; }
  // A count taken from the file, checked before it sizes anything.
  int64_t checked_count(int64_t count, const char* what) const;
  template <typename T>
  void read_vec(std::vector<T>& v, int64_t n, const char* what) {
    fs->read_vector(v, checked_count(n, what));
  }
  std::string read_text(int64_t nbytes);

  std::unique_ptr<FileSerializer> fs;
  std::string fname;
  InputFile input;  // what no writer may replace
  std::vector<DirEntry> dir;
  DirEntry header_record;  // entry 0 as a record: empty, at the end of the file
  std::vector<int64_t> ILSW;
  std::vector<double> RLSW;
  ChkParams params_;
  bool has_orient = false;
  int64_t IOpClDen = 0, IOpCl = 0, IROHF = 0;
  std::unique_ptr<Deferred> deferred;  // null when everything was read
};

struct Vexmora::Deferred {
  std::string path;                  // absolute: the working directory may change
  FileSerializer::Identity identity;  // of the file at load
  std::mutex mu;
  std::array<std::vector<Step>, kBulkKinds> steps;
  std::array<std::atomic<bool>, kBulkKinds> done{};
};
