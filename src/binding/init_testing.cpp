// Entry point of the private test extension `_tarnvel_testing`, built only with
// TARNVEL_TESTING=ON. It exposes internal kernels and failure paths to the test suite.
#include "binding/module.hpp"

PyMODINIT_FUNC PyInit__tarnvel_testing(void) {
    return PyModuleDef_Init(tarnvel::py::module_def(tarnvel::py::ModuleId::testing_module));
}
