// Chooses the kernel table once, the first time it is asked for.
#include "Kernels.h"

namespace zrfe {
namespace kernels {

std::vector<const KernelTable*> AvailableKernelTables()
{
    return {&ReferenceKernels(), &ScalarKernels()};
}

const KernelTable& ActiveKernels()
{
    static const KernelTable* const active = AvailableKernelTables().back();
    return *active;
}

}  // namespace kernels
}  // namespace zrfe
