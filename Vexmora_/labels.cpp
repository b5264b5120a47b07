// Job labels: title, route and label groups (502), job description with
// method and basis (993), and the program version (801).
#include <algorithm>
#include <string>

#include "Vexmora.h"

namespace {

constexpr int64_t kLabelFlag = -12345;
constexpr int64_t kTitleLen = 800;
constexpr int64_t kRouteLen = 32000;
constexpr int64_t kJobTextLen = 1528;

bool is_separator(char c) { return c == '\\' || c == '|'; }

// Label fields end at a separator; the list ends at BEL or with the bytes. An
// unfinished last field is dropped. Fields are kept whole, whatever their length.
std::vector<std::string> split_fields(const std::string& tail) {
  std::vector<std::string> fields;
  std::string cur;
  for (const char c : tail) {
    if (c == '\a') break;
    if (is_separator(c)) {
      const size_t nul = cur.find('\0');
      fields.push_back(nul == std::string::npos ? cur : cur.substr(0, nul));
      cur.clear();
    } else {
      cur.push_back(c);
    }
  }
  return fields;
}

// Each group starts at a field led by a decimal digit and runs to the next one.
std::vector<std::string> group_labels(const std::vector<std::string>& fields) {
  std::vector<size_t> starts;
  for (size_t i = 0; i < fields.size(); ++i)
    if (!fields[i].empty() && fields[i][0] >= '0' && fields[i][0] <= '9') starts.push_back(i);
  starts.push_back(fields.size());
  std::vector<std::string> groups;
  for (size_t g = 0; g + 1 < starts.size(); ++g) {
    std::string joined;
    for (size_t i = starts[g]; i < starts[g + 1]; ++i) joined += fields[i];
    groups.push_back(std::move(joined));
  }
  return groups;
}

std::string job_type(int64_t itype, int64_t ipf) {
  static const char* const by_itype[] = {"SP",   "SP",        "",     "Guess=Only",
                                         "LST",  "Force",     "Freq", "Stability",
                                         "Scan", "Rearchive/MS-Restart", "Mixed"};
  static const char* const by_ipf[] = {"FOpt", "FTS", "POpt", "PTS", "FSaddle",
                                       "",     "PSaddle", "BOMD", "ADMP"};
  // Unsigned comparisons: every negative value is out of range.
  const auto ut = static_cast<uint64_t>(itype);
  if (ut > 11) VEX_THROW("Unrecognized itype= " + std::to_string(itype));
  if (ut != 2 && ut != 11) return by_itype[ut];
  const auto up = static_cast<uint64_t>(ipf);
  if (up > 8 || up == 5) VEX_THROW("Unrecognized ipf= " + std::to_string(ipf));
  return by_ipf[up];
}

}  // namespace

void Vexmora::read_label() {
  if (const DirEntry* rec = find_record(502)) read_title_route(*rec);
  if (const DirEntry* rec = find_record(993)) read_job(*rec);
  if (const DirEntry* rec = find_record(801)) read_version(*rec);
}

void Vexmora::read_title_route(const DirEntry& rec) {
  seek_record(rec);
  int64_t flag = 0;  // a flag cut off by the end of the file is a wrong flag
  fs->rw_value(flag);
  if (flag != kLabelFlag) VEX_THROW("Label flag (-12345) not found");
  fs->skip(24);
  params_.title = read_text(kTitleLen);
  params_.route = read_text(kRouteLen);

  const int64_t pos = fs->tell();
  const int64_t avail = std::min(rec.end * 8, fs->get_fsize()) - pos;
  if (avail <= 0) return;
  std::string tail(static_cast<size_t>(avail), '\0');
  fs->rw_bytes(&tail[0], avail);
  params_.mol.orblabels = group_labels(split_fields(tail));
}

void Vexmora::read_job(const DirEntry& rec) {
  seek_record(rec);
  params_.info1_9.assign(9, 0);
  fs->rw_array(params_.info1_9.data(), 9);

  const int64_t avail = std::min<int64_t>(kJobTextLen, fs->get_fsize() - fs->tell());
  std::string txt(static_cast<size_t>(std::max<int64_t>(avail, 0)), '\0');
  if (avail > 0) fs->rw_bytes(&txt[0], avail);
  std::vector<size_t> seps;
  for (size_t i = 0; i < txt.size() && seps.size() < 2; ++i)
    if (is_separator(txt[i])) seps.push_back(i);
  if (seps.size() == 2) {
    params_.method = txt.substr(0, seps[0]);
    params_.baset = txt.substr(seps[0] + 1, seps[1] - seps[0] - 1);
  }
  params_.jobtype = job_type(params_.info1_9[6], params_.info1_9[4]);
}

void Vexmora::read_version(const DirEntry& rec) {
  seek_record(rec);
  params_.gauver = read_text(rec.length() * 8);
}
