// A module's exported PyInit_<m>: the first code of the module to run, and the only part compiled
// for any x86-64 processor. Everything else is compiled for AVX2 and FMA, so on a processor
// without them the import fails here with an ImportError that names what is missing, before any
// such instruction runs. The module's static initialisers are compiled for AVX2 too: the link
// (deferred_init.ld) keeps them out of what runs when the shared object is loaded, and they run
// here, once, after the check.
//
// Only the C API and compiler built-ins are used: an inline C++ function from a header could be
// merged at link time with its copy compiled for AVX2.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#if !defined(TAVORO_MODULE_NAME) || !defined(TAVORO_MODULE_FULL_NAME)
#error "TAVORO_MODULE_NAME and TAVORO_MODULE_FULL_NAME name the module this file initialises"
#endif

namespace {

constexpr const char missing_instructions[] =
    "%s needs an x86-64 processor with AVX2 and FMA; this one lacks %s";

// What the processor lacks (null when it has everything); XSAVE support for the AVX state is part
// of what the built-ins check.
const char* missing() {
    __builtin_cpu_init();
    bool avx2 = __builtin_cpu_supports("avx2");
    bool fma = __builtin_cpu_supports("fma");
    if (!avx2 && !fma) return "AVX2 and FMA";
    if (!avx2) return "AVX2";
    if (!fma) return "FMA";
    return nullptr;
}

bool initialised = false;

}  // namespace

// The module's static initialisers, as the link gathered them, and its own initialisation.
extern "C" void (*const tavoro_deferred_init_start[])();
extern "C" void (*const tavoro_deferred_init_end[])();
extern "C" PyObject* tavoro_module_init();

#define TAVORO_PYINIT(name) TAVORO_PYINIT_(name)
#define TAVORO_PYINIT_(name) PyInit_##name

extern "C" __attribute__((visibility("default"))) PyObject* TAVORO_PYINIT(TAVORO_MODULE_NAME)() {
    if (const char* lacking = missing()) {
        PyErr_Format(PyExc_ImportError, missing_instructions, TAVORO_MODULE_FULL_NAME, lacking);
        return nullptr;
    }
    if (!initialised) {
        initialised = true;
        for (auto* run = tavoro_deferred_init_start; run != tavoro_deferred_init_end; ++run) (*run)();
    }
    return tavoro_module_init();
}
