#pragma once

#include <QtGlobal>

namespace platform {

// The four registers the processor identification instruction answers with.
struct TCpuIdRegisters {
    quint32 Eax = 0;
    quint32 Ebx = 0;
    quint32 Ecx = 0;
    quint32 Edx = 0;
};

// The processor identification instruction behind a virtual operation, so the
// survey's reading of its answers can be checked against recorded processors.
class TCpuIdInstruction {
public:
    virtual ~TCpuIdInstruction();

    // Executes the instruction for the leaf with sub-leaf 0. On a processor
    // without the instruction every register is 0.
    virtual TCpuIdRegisters query(quint32 Leaf) const;
};

} // namespace platform
