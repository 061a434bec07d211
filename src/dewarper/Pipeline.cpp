// The worker pipeline: frames in, pictures out.
//
// The host thread gates, converts and dispatches; the main worker composes the
// main view (and the sub views when there is no sub worker); up to two sub
// workers render contiguous blocks of sub views; the dewarper's own thread
// delivers frame-info notices. A frame is accepted only while every worker is
// idle, so the source picture never changes under a reader. Every picture is
// composed by the engine.
#include <exception>

#include "DewarperImpl.h"
#include "base/NoThrow.h"
#include "engine/FrameConversion.h"

namespace {

enum : unsigned int {
    ZR_MSG_MAIN_WORK = 301,
    ZR_MSG_SUB_WORK = 302,  // + sub worker index
    ZR_MSG_FRAME_INFO = 311
};

const char kMainWorkerName[] = "FishEyeMainWorker";
const char kSubWorkerName[] = "FishEyeSubWorker";
const int kWorkerQueueBound = 32;
// Without an info-notify callback the dewarper thread idles this long per notice.
const unsigned int kIdleNoticeMs = 1000;
const unsigned int kNoticeWaitMs = 50;

std::unique_ptr<CZRThreadWorker> MakeWorker(const char* pszName)
{
    return std::unique_ptr<CZRThreadWorker>(new CZRThreadWorker(1, pszName, 0, kWorkerQueueBound));
}

}  // namespace

void CZRFishEyeDewarper::Start()
{
    Impl& d = *m_pImpl;
    const HostGuard hostGuard(d.m_mtxHost);
    if (IsRunning())
        return;
    // A thread the system refuses leaves the dewarper stopped; a later Start tries again.
    zrbase::IgnoringFailure([&] {
        if (!d.m_pMainWorker) {
            d.m_pMainWorker = MakeWorker(kMainWorkerName);
            d.m_pMainWorker->Attach(this, &CZRFishEyeDewarper::OnMainWork);
            d.m_bMainBusy = false;
        }
        d.CreateSubWorkers();
        ThreadStart();
    });
}

void CZRFishEyeDewarper::Impl::CreateSubWorkers()
{
    for (unsigned int k = 0; k < m_uSubWorkerNum && k < kMaxSubWorkers; ++k) {
        if (!m_pSubWorker[k]) {
            m_pSubWorker[k] = MakeWorker(kSubWorkerName);
            m_pSubWorker[k]->Attach(&m_self, &CZRFishEyeDewarper::OnSubWork);
            m_bSubBusy[k] = false;
        }
    }
}

void CZRFishEyeDewarper::Impl::DeleteWorker(std::unique_ptr<CZRThreadWorker> pWorker, bool bMain)
{
    if (!pWorker)
        return;
    // Called without the host lock: detaching waits for a handler in progress,
    // and deleting joins the worker's thread.
    if (bMain)
        pWorker->Detach(&m_self, &CZRFishEyeDewarper::OnMainWork);
    else
        pWorker->Detach(&m_self, &CZRFishEyeDewarper::OnSubWork);
    pWorker.reset();
}

void CZRFishEyeDewarper::Stop()
{
    Impl& d = *m_pImpl;
    std::unique_ptr<CZRThreadWorker> main, subs[kMaxSubWorkers];
    {
        const HostGuard hostGuard(d.m_mtxHost);
        if (!IsRunning())
            return;
        main = std::move(d.m_pMainWorker);
        for (unsigned int k = 0; k < kMaxSubWorkers; ++k)
            subs[k] = std::move(d.m_pSubWorker[k]);
        ++d.m_nRetiringWorkers;
    }
    ThreadStop();  // first the notices stop, then the workers go
    d.DeleteWorker(std::move(main), true);
    for (unsigned int k = 0; k < kMaxSubWorkers; ++k)
        d.DeleteWorker(std::move(subs[k]), false);
    d.m_bMainBusy = false;
    for (unsigned int k = 0; k < kMaxSubWorkers; ++k)
        d.m_bSubBusy[k] = false;
    --d.m_nRetiringWorkers;
}

int CZRFishEyeDewarper::SetSubWorkerNum(unsigned int uCount)
{
    Impl& d = *m_pImpl;
    std::unique_ptr<CZRThreadWorker> removed[kMaxSubWorkers];
    {
        const HostGuard hostGuard(d.m_mtxHost);
        d.m_uSubWorkerNum = std::min(uCount, kMaxSubWorkers);
        if (!IsRunning())
            return 0;
        // A worker the system cannot start stays missing; the gate then refuses frames.
        zrbase::IgnoringFailure([&] { d.CreateSubWorkers(); });
        for (unsigned int k = d.m_uSubWorkerNum; k < kMaxSubWorkers; ++k)
            removed[k] = std::move(d.m_pSubWorker[k]);
        ++d.m_nRetiringWorkers;
    }
    for (unsigned int k = 0; k < kMaxSubWorkers; ++k) {
        if (removed[k]) {
            d.DeleteWorker(std::move(removed[k]), false);
            d.m_bSubBusy[k] = false;
        }
    }
    --d.m_nRetiringWorkers;
    return 0;
}

// The gate: a job counts from its post until its handler returns, so a frame is
// refused even in the moment between a worker taking a job and marking itself busy.
bool CZRFishEyeDewarper::Impl::AcceptsFrame()
{
    if (!m_self.IsRunning() || !m_pMainWorker || m_nRetiringWorkers != 0)
        return false;
    if (m_pMainWorker->GetMessageCount() != 0 || m_pMainWorker->GetOutstandingCount() != 0 || m_bMainBusy)
        return false;
    for (unsigned int k = 0; k < m_uSubWorkerNum && k < kMaxSubWorkers; ++k) {
        const std::unique_ptr<CZRThreadWorker>& w = m_pSubWorker[k];
        if (!w || w->GetMessageCount() != 0 || w->GetOutstandingCount() != 0 || m_bSubBusy[k])
            return false;
    }
    return true;
}

int CZRFishEyeDewarper::Process(CZRFrame* pFrame)
{
    Impl& d = *m_pImpl;
    const HostGuard hostGuard(d.m_mtxHost);
    if (!pFrame || !d.AcceptsFrame())
        return 0;
    // The engine moves the sub views' lens circle for a new width while the workers are idle.
    if (d.m_engine.LoadPicture(pFrame->GetPicture()) != 0)
        return 0;
    return zrbase::AnswerOr(0, [&] { return d.Process(); });
}

int CZRFishEyeDewarper::Process(tag_ZRFRAME* pFrame)
{
    Impl& d = *m_pImpl;
    const HostGuard hostGuard(d.m_mtxHost);
    if (!pFrame || !d.AcceptsFrame() || d.m_engine.LoadFrame(*pFrame) != 0)
        return 0;
    return zrbase::AnswerOr(0, [&] { return d.Process(); });
}

int CZRFishEyeDewarper::Impl::Process()
{
    if (!m_self.IsRunning())
        return 0;
    const unsigned int workers = std::min(m_uSubWorkerNum.load(), kMaxSubWorkers);
    m_uDispatchedSubWorkers = workers;
    m_uDispatchedSubViews = static_cast<unsigned int>(m_engine.GetSubViewNum());
    m_pMainWorker->PostWorkerMessage(&m_self, ZR_MSG_MAIN_WORK, nullptr);
    for (unsigned int k = 0; k < workers; ++k)
        if (m_pSubWorker[k])
            m_pSubWorker[k]->PostWorkerMessage(&m_self, ZR_MSG_SUB_WORK + k, nullptr);
    return 0;
}

zrfe::PictureProvider CZRFishEyeDewarper::Impl::IntoFrame(CZRFrame& frm)
{
    return [&frm](zrfe::ViewSize size, zrfe::PlanarPicture& out) { return zrfe::FramePicture(frm, size, out); };
}

void CZRFishEyeDewarper::Impl::PublishFrameInfo(int nSlot, CZRFrame& frm, bool bMain, int nIndex)
{
    CZRPacketPIC* pkt = frm.GetPicture();
    {
        CZRGuard guard(m_mtxFrameInfo);
        tag_ZR_FE_FRAME_INFO_S& info = m_stFrameInfo[nSlot];
        info.bMain = bMain ? 1 : 0;
        info.nIndex = nIndex;
        info.uPicWidth = pkt ? pkt->m_uWidth : 0;
        info.uPicHeight = pkt ? pkt->m_uHeight : 0;
    }
    m_self.ZRPostMessage(ZR_MSG_FRAME_INFO, &m_stFrameInfo[nSlot], nullptr, 0);
}

int CZRFishEyeDewarper::OnMainWork(CZRMessageT* pMsg, unsigned int, unsigned int&)
{
    Impl& d = *m_pImpl;
    if (!pMsg || pMsg->m_uID != ZR_MSG_MAIN_WORK || d.m_bMainBusy)
        return 0;
    d.m_bMainBusy = true;
    try {
        d.Core().RenderMain(d.IntoFrame(d.m_frmMain), true);
    } catch (const std::exception&) {
        // A picture that cannot be composed leaves the previous one in the frame.
    }
    if (IZRCallback* cb = d.m_pShowCallback)
        cb->OnSignal(this, 0, nullptr, nullptr);
    d.PublishFrameInfo(0, d.m_frmMain, true, -1);
    if (d.m_uDispatchedSubWorkers == 0)
        d.ProcessForSub(0, zrfe::kMaxSubViews);
    d.m_bMainBusy = false;
    return 0;
}

int CZRFishEyeDewarper::OnSubWork(CZRMessageT* pMsg, unsigned int, unsigned int&)
{
    Impl& d = *m_pImpl;
    const unsigned int workers = d.m_uDispatchedSubWorkers;
    if (!pMsg || workers == 0)
        return 0;
    const unsigned int k = pMsg->m_uID - ZR_MSG_SUB_WORK;
    if (k >= workers || k >= kMaxSubWorkers)
        return 0;
    d.m_bSubBusy[k] = true;
    const unsigned int views = d.m_uDispatchedSubViews;
    const unsigned int per = (views + workers - 1) / workers;
    d.ProcessForSub(k * per, (k + 1) * per);
    d.m_bSubBusy[k] = false;
    return 0;
}

void CZRFishEyeDewarper::Impl::RenderSubView(int nIndex)
{
    try {
        Core().RenderSub(nIndex, IntoFrame(m_frmSub[nIndex]));
    } catch (const std::exception&) {
        // The frame keeps its previous picture.
    }
    if (IZRCallback* cb = m_pShowCallback)
        cb->OnSignal(&m_self, nIndex + 1, nullptr, nullptr);
    PublishFrameInfo(1 + nIndex, m_frmSub[nIndex], false, nIndex);
}

void CZRFishEyeDewarper::Impl::ProcessForSub(unsigned int uFirst, unsigned int uLast)
{
    const unsigned int end = std::min(uLast, static_cast<unsigned int>(m_engine.GetSubViewNum()));
    for (unsigned int i = uFirst; i < end && i < static_cast<unsigned int>(zrfe::kMaxSubViews); ++i)
        if (m_hSubWnd[i].load())
            RenderSubView(static_cast<int>(i));
}

unsigned int CZRFishEyeDewarper::OnThread()
{
    Impl& d = *m_pImpl;
    CZRMessageT msg;
    while (IsRunning()) {
        if (ZRGetMessage(msg, kNoticeWaitMs) != 0 || msg.m_uID != ZR_MSG_FRAME_INFO)
            continue;
        IZRCallback* cb = d.m_pInfoNotifyCallback;
        if (!cb) {
            // Nobody listens: idle a while (a stop cuts the wait short).
            ThreadSleep(kIdleNoticeMs);
            continue;
        }
        // The notice carries the view's record as it stands at delivery.
        tag_ZR_FE_FRAME_INFO_S info;
        {
            CZRGuard guard(d.m_mtxFrameInfo);
            info = *static_cast<tag_ZR_FE_FRAME_INFO_S*>(msg.m_pParam1);
        }
        cb->OnSignal(this, 0, &info, nullptr);
    }
    return 0;
}

int CZRFishEyeDewarper::OnDraw(HWND hWnd, unsigned int, void*, void* pLast)
{
    IZRCallback* cb = m_pImpl->m_pInfoNotifyCallback;
    if (hWnd == m_pImpl->m_hMainWnd && cb)
        cb->OnSignal(this, 1, hWnd, pLast);
    return 0;
}
