// Python bindings of the reader; no parsing happens here.
#include <pybind11/eigen.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "PyCommon.h"
#include "Utils.h"
#include "Vexmora.h"

namespace py = pybind11;
using Mol = ChkParams::Mol;

PYBIND11_MODULE(Vexmora_, m) {
  m.doc() =
      "A Gaussian .chk parser to extract basic information. All energy values are in Hartree, "
      "length values are in Angstrom. <br><br> <b>No warranty</b> is provided for the correctness "
      "of this program. If you observe inconsistencies or anomalies during use, please submit an "
      "issue with the checkpoint file attached to the Vexmora project's issue tracker.";

  py::register_local_exception_translator(translate_error);

  const auto ri = py::return_value_policy::reference_internal;

  py::classh<ChkParams>(m, "ChkParams")
      .def_readonly("mol", &ChkParams::mol, "The mol structure")
      .def_readonly("route", &ChkParams::route, "The route string")
      .def_readonly("gauver", &ChkParams::gauver, "The gaussian version description")
      .def_readonly("title", &ChkParams::title, "The title section description")
      .def_readonly("method", &ChkParams::method, "The method section, such as RB3LYP")
      .def_readonly("baset", &ChkParams::baset, "The basis set section, such as def2SVP")
      .def_readonly("jobtype", &ChkParams::jobtype, "The job type section, such as SP, Freq")
      .def_readonly("info1_9", &ChkParams::info1_9, "The info 1-9 array")
      .def_readonly("genarr", &ChkParams::genarr,
                    "The scalar data of the calculation (Gen array), size=1000")
      .def_property_readonly("viratio", &ChkParams::viratio, "Virial Ratio")
      .def_property_readonly("scfene", &ChkParams::scfene, "SCF Energy")
      .def_property_readonly("totene", &ChkParams::totene, "Total Energy");

  py::classh<Mol>(m, "Mol")
      .def_readonly("hessian", &Mol::hessian, "The hessian Matrix (3N*3N)")
      .def_property_readonly(
          "names",
          [](const Mol& mol) {
            std::vector<std::string> out;
            for (const int64_t z : leading(mol.atomicnums, mol.natoms))
              out.emplace_back(element_symbol(z));
            return out;
          },
          "The atom element names")
      .def_property_readonly(
          "atomicnums", [](const Mol& mol) { return leading(mol.atomicnums, mol.natoms); },
          "The atomic numbers")
      .def_readonly("orblabels", &Mol::orblabels, "The atomic orbital labels")
      .def_property_readonly(
          "nucchg", [](const Mol& mol) { return leading(mol.nucchg, mol.natoms); },
          "The nuclear charges")
      .def_property_readonly(
          "coords", [](const Mol& mol) { return triples(mol.coords, mol.natoms, BOHR_TO_ANGSTROM); },
          "The atomic coords (N*3), unit is Angstrom")
      .def_property_readonly(
          "cell", [](const Mol& mol) -> Eigen::Matrix3d { return mol.cell * BOHR_TO_ANGSTROM; },
          "The cell size (3*3) of molecule, unit is Angstrom")
      .def_readonly("ne", &Mol::ne, "The number of electrons")
      .def_readonly("nae", &Mol::nae, "The number of alpha electrons")
      .def_readonly("nbe", &Mol::nbe, "The number of beta electrons")
      .def_readonly("nbasis", &Mol::nbasis, "The number of basis functions")
      .def_readonly("nbsuse", &Mol::nbsuse, "The number of independent functions")
      .def_readonly("ndim", &Mol::ndim, "The number of translation vectors (0-3 dim)")
      .def_readonly("aoene", &Mol::aoene, "The Alpha Orbital Energies")
      .def_readonly("boene", &Mol::boene, "The Beta Orbital Energies")
      .def_readonly("amocoeff", &Mol::amocoeff, "The Alpha MO coefficients")
      .def_readonly("bmocoeff", &Mol::bmocoeff, "The Beta MO coefficients")
      .def_readonly("orthbasis", &Mol::orthbasis, "The Orthonormal basis")
      .def_property_readonly(
          "shelltypes", [](const Mol& mol) { return mol.basis.shelltypes; }, "The Shell types")
      .def_property_readonly(
          "shellnprim", [](const Mol& mol) { return mol.basis.shellnprim; },
          "The number of primitives per shell")
      .def_property_readonly(
          "shell2map", [](const Mol& mol) { return mol.basis.shell2map; }, "Shell to atom map")
      .def_property_readonly(
          "primexp", [](const Mol& mol) { return mol.basis.primexp; }, "Primitive exponents")
      .def_property_readonly(
          "concoeff", [](const Mol& mol) { return mol.concoeff; }, "Contraction coefficients")
      .def_property_readonly(
          "spconcoeff", [](const Mol& mol) { return mol.spconcoeff; },
          "P(S=P) Contraction coefficients")
      .def_property_readonly(
          "cshell", [](const Mol& mol) { return triples(mol.cshell, mol.NShell, BOHR_TO_ANGSTROM); },
          "Coordinates of each shell, unit is Angstrom")
      .def_readonly("totdens", &Mol::totdens, "Total density")
      .def_readonly("spindens", &Mol::spindens, "Spin density")
      .def_readonly("natoms", &Mol::natoms, "The number of atoms")
      .def_readonly("totchg", &Mol::totchg, "The total charge of molecule")
      .def_readonly("multiplicity", &Mol::multiplicity, "The multiplicity of molecule");

  py::classh<Vexmora>(m, "ChkReader_")
      .def(py::init<const std::string&>(), py::arg("fchk"))
      .def("write_gjf", &Vexmora::write_gjf, py::arg("fgjf"),
           "Write a gjf file based on the information of .chk")
      .def("write_fchk", &Vexmora::write_fchk, py::arg("fname"),
           "Write a formatted fchk file based on the partial information of .chk")
      .def_property_readonly("params", &Vexmora::params, ri, "The ChkParams class")
      .def_property_readonly("ilsw", &Vexmora::ilsw, "The ILSW array")
      .def_property_readonly("rlsw", &Vexmora::rlsw, "The RLSW array");
}
