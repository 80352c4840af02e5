#include "platform/cpuidinstruction.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace platform {

TCpuIdInstruction::~TCpuIdInstruction() = default;

TCpuIdRegisters TCpuIdInstruction::query(quint32 Leaf) const {
    TCpuIdRegisters registers;
#if defined(__x86_64__) || defined(__i386__)
    unsigned int eax = 0;
    unsigned int ebx = 0;
    unsigned int ecx = 0;
    unsigned int edx = 0;
    __cpuid_count(Leaf, 0, eax, ebx, ecx, edx);
    registers.Eax = eax;
    registers.Ebx = ebx;
    registers.Ecx = ecx;
    registers.Edx = edx;
#else
    Q_UNUSED(Leaf)
#endif
    return registers;
}

} // namespace platform
