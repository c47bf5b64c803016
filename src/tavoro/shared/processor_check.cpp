// A module's exported PyInit_<m>: the first code of the module to run, and the only part compiled
// for any processor of its architecture. Everything else is compiled for AVX2 and FMA on x86-64
// (NEON is baseline on aarch64, and the check there guards against a system that hides it), so on
// a processor without them the import fails here with an ImportError that names what is missing,
// before any such instruction runs. The module's static initialisers are compiled for AVX2 too:
// the link (deferred_init.ld) keeps them out of what runs when the shared object is loaded, and
// they run here, once, after the check.
//
// Only the C API and compiler built-ins are used: an inline C++ function from a header could be
// merged at link time with its copy compiled for AVX2. The processor is asked directly (cpuid and
// xgetbv, or the kernel's hardware capabilities) rather than through __builtin_cpu_supports, which
// some toolchains' runtimes answer with nothing.
#define PY_SSIZE_T_CLEAN
#include <Python.h>

#if defined(__x86_64__)
#include <cpuid.h>
#elif defined(__aarch64__)
#include <sys/auxv.h>
#else
#error "the modules are built for x86-64 and aarch64"
#endif

#if !defined(TAVORO_MODULE_NAME) || !defined(TAVORO_MODULE_FULL_NAME)
#error "TAVORO_MODULE_NAME and TAVORO_MODULE_FULL_NAME name the module this file initialises"
#endif

namespace {

#if defined(__x86_64__)
constexpr const char missing_instructions[] =
    "%s needs an x86-64 processor with AVX2 and FMA; this one lacks %s";

constexpr unsigned fma_bit = 1u << 12, osxsave_bit = 1u << 27, avx_bit = 1u << 28;  // leaf 1, ecx
constexpr unsigned avx2_bit = 1u << 5;                                               // leaf 7, ebx
constexpr unsigned long long sse_and_avx_state = 0x6;                                // XCR0

// Whether the system saves the SSE and AVX registers on a context switch: without that, no AVX
// instruction may run, whatever cpuid says of the processor.
bool avx_state_enabled(unsigned leaf1_ecx) {
    if (!(leaf1_ecx & osxsave_bit) || !(leaf1_ecx & avx_bit)) return false;
    unsigned low, high;
    __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    unsigned long long xcr0 = (static_cast<unsigned long long>(high) << 32) | low;
    return (xcr0 & sse_and_avx_state) == sse_and_avx_state;
}

// What the processor lacks (null when it has everything).
const char* missing() {
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return "AVX2 and FMA";
    bool usable = avx_state_enabled(ecx);
    bool fma = usable && (ecx & fma_bit);
    bool avx2 = usable && __get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx) && (ebx & avx2_bit);
    if (!avx2 && !fma) return "AVX2 and FMA";
    if (!avx2) return "AVX2";
    if (!fma) return "FMA";
    return nullptr;
}
#else
constexpr const char missing_instructions[] =
    "%s needs an aarch64 processor with NEON; this one lacks %s";

constexpr unsigned long hwcap_fp = 1ul << 0, hwcap_asimd = 1ul << 1;

const char* missing() {
    unsigned long hwcap = getauxval(AT_HWCAP);
    return (hwcap & hwcap_fp) && (hwcap & hwcap_asimd) ? nullptr : "NEON";
}
#endif

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
