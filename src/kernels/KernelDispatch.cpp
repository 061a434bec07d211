// Chooses the kernel table once, the first time it is asked for.
#include "Kernels.h"

namespace zrfe {
namespace kernels {

std::vector<const KernelTable*> AvailableKernelTables()
{
    std::vector<const KernelTable*> tables = {&ReferenceKernels(), &ScalarKernels()};
    if (const KernelTable* simd = Simd128Kernels())
        tables.push_back(simd);
    for (const KernelTable* vector : HighwayKernelTables())
        tables.push_back(vector);
    return tables;
}

const KernelTable& ActiveKernels()
{
    static const KernelTable* const active = AvailableKernelTables().back();
    return *active;
}

}  // namespace kernels
}  // namespace zrfe
