// Entry point of `tarnvel_match._native`, the private extension of the companion package.
#include "binding/functions.hpp"
#include "binding/module.hpp"

PyMODINIT_FUNC PyInit__native(void) {
    return PyModuleDef_Init(
        tarnvel::py::module_def(tarnvel::py::ModuleId::match_module, tarnvel::py::match_table()));
}
