// The dataset's rows in vexmora._core: a list of files read and computed
// without the interpreter lock, returned as columns (NumPy arrays with their
// validity, lists of texts) that Arrow takes whole.
#include "bindings.h"
#include "dataset.h"

namespace {

using Rows = std::vector<DatasetRow>;

py::array_t<bool> flags(const Rows& rows, bool DatasetRow::*member) {
  py::array_t<bool> a(static_cast<py::ssize_t>(rows.size()));
  for (size_t i = 0; i < rows.size(); ++i) a.mutable_at(i) = rows[i].*member;
  return a;
}

template <typename T, typename Get>
py::tuple scalars(const Rows& rows, Get get) {
  py::array_t<T> values(static_cast<py::ssize_t>(rows.size()));
  py::array_t<bool> valid(static_cast<py::ssize_t>(rows.size()));
  for (size_t i = 0; i < rows.size(); ++i) {
    bool present = false;
    values.mutable_at(i) = get(rows[i], present);
    valid.mutable_at(i) = present;
  }
  return py::make_tuple(values, valid);
}

// A list column: offsets (n + 1), the values of all rows, and each row's validity.
template <typename T, typename Get>
py::tuple lists(const Rows& rows, Get get) {
  py::array_t<int64_t> offsets(static_cast<py::ssize_t>(rows.size() + 1));
  py::array_t<bool> valid(static_cast<py::ssize_t>(rows.size()));
  int64_t total = 0;
  offsets.mutable_at(0) = 0;
  for (size_t i = 0; i < rows.size(); ++i) {
    bool present = false;
    total += static_cast<int64_t>(get(rows[i], present).size());
    offsets.mutable_at(i + 1) = total;
    valid.mutable_at(i) = present;
  }
  py::array_t<T> values(static_cast<py::ssize_t>(total));
  T* out = values.mutable_data();
  for (const DatasetRow& r : rows) {
    bool present = false;
    for (const T& v : get(r, present)) *out++ = v;
  }
  return py::make_tuple(offsets, values, valid);
}

py::list texts(const Rows& rows, std::string DatasetRow::*member) {
  py::list out(rows.size());
  for (size_t i = 0; i < rows.size(); ++i)
    out[i] = rows[i].ok ? py::object(text(rows[i].*member)) : py::object(py::none());
  return out;
}

// The symbols as a list column of texts: offsets, one list of all, validity.
py::tuple symbols(const Rows& rows) {
  py::array_t<int64_t> offsets(static_cast<py::ssize_t>(rows.size() + 1));
  py::array_t<bool> valid(static_cast<py::ssize_t>(rows.size()));
  py::list values;
  offsets.mutable_at(0) = 0;
  for (size_t i = 0; i < rows.size(); ++i) {
    for (const std::string& s : rows[i].symbols) values.append(py::str(s));
    offsets.mutable_at(i + 1) = static_cast<int64_t>(py::len(values));
    valid.mutable_at(i) = rows[i].ok;
  }
  return py::make_tuple(offsets, values, valid);
}

py::dict columns(const Rows& rows) {
  py::dict c;
  c["ok"] = flags(rows, &DatasetRow::ok);
  using R = DatasetRow;
  for (const auto& [name, member] : std::initializer_list<std::pair<const char*, std::string R::*>>{
           {"title", &R::title}, {"route", &R::route}, {"method", &R::method}, {"basis_set", &R::basis_set},
           {"job_type", &R::job_type}, {"program_version", &R::program_version}, {"formula", &R::formula}})
    c[name] = texts(rows, member);
  for (const auto& [name, member] : std::initializer_list<std::pair<const char*, int64_t R::*>>{
           {"charge", &R::charge}, {"multiplicity", &R::multiplicity}, {"n_atoms", &R::n_atoms},
           {"n_basis", &R::n_basis}, {"n_electrons", &R::n_electrons}})
    c[name] = scalars<int64_t>(rows, [m = member](const R& r, bool& ok) { return (ok = r.ok) ? r.*m : 0; });
  for (const auto& [name, member] : std::initializer_list<std::pair<const char*, double R::*>>{
           {"scf_energy", &R::scf_energy}, {"total_energy", &R::total_energy}})
    c[name] = scalars<double>(rows, [m = member](const R& r, bool& ok) { return (ok = r.ok) ? r.*m : 0.0; });
  for (const auto& [name, member] : std::initializer_list<std::pair<const char*, MaybeDouble R::*>>{
           {"homo_energy", &R::homo}, {"lumo_energy", &R::lumo}, {"homo_energy_beta", &R::homo_beta},
           {"lumo_energy_beta", &R::lumo_beta}})
    c[name] = scalars<double>(rows, [m = member](const R& r, bool& ok) { return (ok = (r.*m).present) ? (r.*m).value : 0.0; });
  for (const auto& [name, homo, lumo] : std::initializer_list<std::tuple<const char*, MaybeDouble R::*, MaybeDouble R::*>>{
           {"gap", &R::homo, &R::lumo}, {"gap_beta", &R::homo_beta, &R::lumo_beta}})
    c[name] = scalars<double>(rows, [h = homo, l = lumo](const R& r, bool& ok) {
      return (ok = (r.*h).present && (r.*l).present) ? (r.*l).value - (r.*h).value : 0.0;
    });
  c["symbols"] = symbols(rows);
  c["atomic_numbers"] = lists<int64_t>(rows, [](const R& r, bool& ok) -> const std::vector<int64_t>& {
    ok = r.ok;
    return r.atomic_numbers;
  });
  c["coordinates"] = lists<double>(rows, [](const R& r, bool& ok) -> const std::vector<double>& {
    ok = r.ok;
    return r.coordinates;
  });
  c["dipole"] = lists<double>(rows, [](const R& r, bool& ok) -> const std::vector<double>& {
    ok = !r.dipole.empty();
    return r.dipole;
  });
  c["mulliken_charges"] = lists<double>(rows, [](const R& r, bool& ok) -> const std::vector<double>& {
    ok = !r.mulliken.empty();
    return r.mulliken;
  });
  py::list groups(rows.size());
  for (size_t i = 0; i < rows.size(); ++i)
    groups[i] = rows[i].has_group ? py::object(py::str(rows[i].point_group)) : py::object(py::none());
  c["point_group"] = groups;
  c["symmetry_number"] = scalars<int64_t>(rows, [](const R& r, bool& ok) { return (ok = r.has_group) ? r.symmetry_number : 0; });
  c["frequencies"] = lists<double>(rows, [](const R& r, bool& ok) -> const std::vector<double>& {
    ok = r.has_thermo;
    return r.frequencies;
  });
  c["n_imaginary"] = scalars<int64_t>(rows, [](const R& r, bool& ok) { return (ok = r.has_thermo) ? r.n_imaginary : 0; });
  for (const auto& [name, member] : std::initializer_list<std::pair<const char*, double R::*>>{
           {"zpe", &R::zpe}, {"enthalpy", &R::enthalpy}, {"gibbs", &R::gibbs}, {"qh_gibbs", &R::qh_gibbs}})
    c[name] = scalars<double>(rows, [m = member](const R& r, bool& ok) { return (ok = r.has_thermo) ? r.*m : 0.0; });
  py::dict notes;
  for (size_t i = 0; i < rows.size(); ++i)
    if (!rows[i].note.empty()) notes[py::int_(i)] = text(rows[i].note);
  c["notes"] = notes;
  return c;
}

// The rows of `paths`, each from `row(i, options)`, computed without the interpreter lock.
template <typename Row>
py::dict rows_of(const std::vector<std::string>& paths, bool point_group, bool thermo,
                 const ThermoOptions& thermochemistry, int64_t symmetry, Row row) {
  Rows rows(paths.size());
  {
    py::gil_scoped_release nogil;
    const DatasetOptions o{point_group, thermo, thermochemistry, symmetry};
    for (size_t i = 0; i < paths.size(); ++i) rows[i] = row(i, o);
  }
  return columns(rows);
}

py::dict dataset_rows(const std::vector<std::string>& paths, bool point_group, bool thermo,
                      const ThermoOptions& thermochemistry, int64_t symmetry) {
  return rows_of(paths, point_group, thermo, thermochemistry, symmetry,
                 [&](size_t i, const DatasetOptions& o) { return dataset_row(paths[i], o); });
}

// The rows of checkpoints already open (whose arrays the caller takes too); a
// None for a file that did not open gives a row that is not ok.
py::dict dataset_rows_of(const std::vector<const Reader*>& readers, const std::vector<std::string>& paths,
                         bool point_group, bool thermo, const ThermoOptions& thermochemistry, int64_t symmetry) {
  if (readers.size() != paths.size()) throw py::value_error("dataset_rows_of needs a path per reader");
  return rows_of(paths, point_group, thermo, thermochemistry, symmetry, [&](size_t i, const DatasetOptions& o) {
    return readers[i] != nullptr ? dataset_row(*readers[i], paths[i], o) : DatasetRow{};
  });
}

}  // namespace

void bind_dataset(py::module_& m, ReaderClass&) {
  m.def("dataset_rows", &dataset_rows, py::arg("paths"), py::arg("point_group"), py::arg("thermo"),
        py::arg("thermochemistry"), py::arg("symmetry"));
  m.def("dataset_rows_of", &dataset_rows_of, py::arg("readers"), py::arg("paths"), py::arg("point_group"),
        py::arg("thermo"), py::arg("thermochemistry"), py::arg("symmetry"));
  m.def("hill_formula", &hill_formula, py::arg("symbols"));
}
