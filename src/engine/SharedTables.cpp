#include "SharedTables.h"

namespace zrfe {

// Never destroyed: an engine that outlives the statics of the process (a host's
// own static) still finds them.
SharedTables<SharedRemapTable>& SharedRemapTables()
{
    static auto* tables = new SharedTables<SharedRemapTable>;
    return *tables;
}

SharedTables<ZRPointMap>& SharedPointMaps()
{
    static auto* maps = new SharedTables<ZRPointMap>;
    return *maps;
}

}  // namespace zrfe
