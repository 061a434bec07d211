// Changing the lens: every table follows, none changes size, so the ground angle
// and the wall window stay where the host put them.
#include <algorithm>
#include <cstring>
#include <iterator>

#include "LensGeometry.h"
#include "engine/EngineCore.h"
#include "engine/SharedTables.h"

namespace zrfe {

int EngineCore::SetLens(const tag_ZRLENS& stLens, bool bForce)
{
    if (LensProblem(stLens))
        return -1;
    if (SameLens(stLens, m_stLens) && !bForce)
        return 0;
    const bool builtin = stLens.eModel == ZR_FE_LENS_BUILTIN;
    std::shared_ptr<const LensProjection> projection;
    if (!builtin)
        projection = std::make_shared<const LensProjection>(stLens);
    // Only the polynomial has coefficients: the others read back with zeros.
    tag_ZRLENS stored = builtin ? BuiltinLens() : stLens;
    if (stored.eModel != ZR_FE_LENS_POLYNOMIAL)
        std::fill(std::begin(stored.dK), std::end(stored.dK), 0.0);
    m_pPanoramaMap->WithLock([&] {
        m_stLens = stored;
        m_pLens = std::move(projection);
    });
    // A radius the constructor was refused left no panorama; it gets none now either.
    if (RadiusFitsPictureLimit(m_eInstallMode, m_uRadius)) {
        if (IsGroundFamily(m_eInstallMode))
            UpdateGroundMap();
        else
            UpdateWallMap(true);
        UpdatePointMap();
    }
    RebuildAllNormalViews();
    return 0;
}

std::array<uint64_t, 6> EngineCore::LensKey() const
{
    std::array<uint64_t, 6> key{};
    if (!m_pLens)
        return key;
    key[0] = static_cast<uint64_t>(m_stLens.eModel);
    key[1] = FloatBits(m_stLens.fFieldOfView);
    if (m_stLens.eModel == ZR_FE_LENS_POLYNOMIAL)
        for (int i = 0; i < 4; ++i)
            std::memcpy(&key[2 + i], &m_stLens.dK[i], sizeof(double));
    return key;
}

}  // namespace zrfe
