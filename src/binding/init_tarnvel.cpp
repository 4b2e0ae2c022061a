// Entry point of the public extension module `tarnvel` (multi-phase initialisation).
#include "binding/functions.hpp"
#include "binding/module.hpp"

PyMODINIT_FUNC PyInit_tarnvel(void) {
    return PyModuleDef_Init(
        tarnvel::py::module_def(tarnvel::py::ModuleId::public_module, tarnvel::py::public_table()));
}
