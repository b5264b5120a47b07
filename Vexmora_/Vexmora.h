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
class FchkSlots;
class StateWriter;
class StateReader;

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

  // The parsed state into an archive, and a reader rebuilt from one (no file
  // needed); a caller may archive more of its own behind it.
  void save_state(StateWriter& out) const;
  static Vexmora restore_state(StateReader& in);
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
  // slots, also what they write in each of their places (FchkWriter.h).
  void write_fchk(const std::string& path) const { write_fchk_sections(path, nullptr); }
  void write_fchk_with(const std::string& path, const FchkSlots& slots) const {
    write_fchk_sections(path, &slots);
  }
  void write_gjf(const std::string& path) const;

  // Record access for readers of further records, from one thread while the
  // file is open (before release_file; it moves the file's position). Whether the directory lists the record; the words
  // of it that lie inside the file (0 when absent or damaged); words first ..
  // first + count of it into out, whole or not at all (false, out empty).
  bool has_record(int64_t label) const { return find_record(label) != nullptr; }
  int64_t record_words(int64_t label) const;
  template <typename T>
  bool read_record(int64_t label, int64_t first, int64_t count, std::vector<T>& out) const;
  // Whether the file holds the rotation into the standard orientation (the
  // molecule's orient_rot) that vectors read from other records need.
  bool has_orientation() const { return has_orient; }

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

  void write_fchk_sections(const std::string& path, const FchkSlots* slots) const;

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
