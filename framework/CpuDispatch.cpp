#include "framework/CpuDispatch.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

namespace {

bool ProcessorRunsX86V3()
{
#if KAVREL_X86_DISPATCH
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2");
#else
    return false;
#endif
}

bool PortableCodeAsked()
{
    const char* value = std::getenv("KAVREL_PORTABLE_CODE");
    return value && *value && std::strcmp(value, "0") != 0;
}

std::atomic<bool> forced { false };

} // namespace

bool UseX86V3()
{
    static const bool available = ProcessorRunsX86V3() && !PortableCodeAsked();
    return available && !forced.load(std::memory_order_relaxed);
}

void ForcePortableCode(bool force)
{
    forced.store(force, std::memory_order_relaxed);
}
