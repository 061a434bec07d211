// The dewarper's render mode: the engine's, changed under the host lock; the
// next frame that Process takes is loaded and rendered in it.
#include "DewarperImpl.h"

int CZRFishEyeDewarper::SetRenderMode(ENUM_ZR_FE_RENDER_MODE_E eMode)
{
    return m_pImpl->Locked([eMode](zrfe::Engine& e) { return e.SetRenderMode(eMode); });
}

ENUM_ZR_FE_RENDER_MODE_E CZRFishEyeDewarper::GetRenderMode()
{
    return m_pImpl->m_engine.GetRenderMode();
}
