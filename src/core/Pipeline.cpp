// The worker pipeline: frames in, pictures out.
//
// The host thread gates, converts and dispatches; the main worker composes the
// main view (and the sub views when there is no sub worker); up to two sub
// workers render contiguous blocks of sub views; the dewarper's own thread
// delivers frame-info notices. A frame is accepted only while every worker is
// idle, so the source picture never changes under a reader.
#include <exception>

#include <opencv2/imgproc.hpp>

#include "FrameConversion.h"
#include "MainViewComposer.h"
#include "ZRFishEye.h"
#include "core/HostLock.h"
#include "ZRFishEyeMap.h"
#include "geometry/LensGeometry.h"

namespace {

enum : unsigned int {
    ZR_MSG_MAIN_WORK = 301,
    ZR_MSG_SUB_WORK = 302,  // + sub worker index
    ZR_MSG_FRAME_INFO = 311
};

const char kMainWorkerName[] = "FishEyeMainWorker";
const char kSubWorkerName[] = "FishEyeSubWorker";

// Outline colour of each sub view, in working-picture channel order (Y, U, V).
const cv::Scalar kOutlineColour[8] = {
    cv::Scalar(150, 54, 0, 0),    cv::Scalar(29, 239, 103, 0), cv::Scalar(226, 17, 153, 0),
    cv::Scalar(105, 202, 255, 0), cv::Scalar(179, 165, 0, 0),  cv::Scalar(42, 107, 214, 0),
    cv::Scalar(158, 150, 213, 0), cv::Scalar(166, 115, 0, 0)};

std::unique_ptr<CZRThreadWorker> MakeWorker(const char* pszName)
{
    return std::unique_ptr<CZRThreadWorker>(new CZRThreadWorker(1, pszName, 0, 32));
}

}  // namespace

void CZRFishEyeDewarper::Start()
{
    const HostGuard hostGuard(m_mtxHost);
    if (IsRunning())
        return;
    if (!m_pMainWorker) {
        m_pMainWorker = MakeWorker(kMainWorkerName);
        m_pMainWorker->Attach(this, &CZRFishEyeDewarper::OnMainWork);
        m_bMainBusy = false;
    }
    CreateSubWorkers();
    ThreadStart();
}

void CZRFishEyeDewarper::CreateSubWorkers()
{
    for (unsigned int k = 0; k < m_uSubWorkerNum && k < 2; ++k) {
        if (!m_pSubWorker[k]) {
            m_pSubWorker[k] = MakeWorker(kSubWorkerName);
            m_pSubWorker[k]->Attach(this, &CZRFishEyeDewarper::OnSubWork);
            m_bSubBusy[k] = false;
        }
    }
}

void CZRFishEyeDewarper::DeleteWorker(std::unique_ptr<CZRThreadWorker> pWorker, bool bMain)
{
    if (!pWorker)
        return;
    // Called without the host lock: detaching waits for a handler in progress,
    // and deleting joins the worker's thread.
    if (bMain)
        pWorker->Detach(this, &CZRFishEyeDewarper::OnMainWork);
    else
        pWorker->Detach(this, &CZRFishEyeDewarper::OnSubWork);
    pWorker.reset();
}

void CZRFishEyeDewarper::Stop()
{
    std::unique_ptr<CZRThreadWorker> main, subs[2];
    {
        const HostGuard hostGuard(m_mtxHost);
        if (!IsRunning())
            return;
        main = std::move(m_pMainWorker);
        subs[0] = std::move(m_pSubWorker[0]);
        subs[1] = std::move(m_pSubWorker[1]);
    }
    ThreadStop();  // first the notices stop, then the workers go
    DeleteWorker(std::move(main), true);
    DeleteWorker(std::move(subs[0]), false);
    DeleteWorker(std::move(subs[1]), false);
    m_bMainBusy = false;
    m_bSubBusy[0] = false;
    m_bSubBusy[1] = false;
}

int CZRFishEyeDewarper::SetSubWorkerNum(unsigned int uCount)
{
    std::unique_ptr<CZRThreadWorker> removed[2];
    {
        const HostGuard hostGuard(m_mtxHost);
        m_uSubWorkerNum = std::min(uCount, 2u);
        if (!IsRunning())
            return 0;
        CreateSubWorkers();
        for (unsigned int k = m_uSubWorkerNum; k < 2; ++k)
            removed[k] = std::move(m_pSubWorker[k]);
    }
    for (int k = 0; k < 2; ++k) {
        if (removed[k]) {
            DeleteWorker(std::move(removed[k]), false);
            m_bSubBusy[k] = false;
        }
    }
    return 0;
}

// The gate: a job counts from its post until its handler returns, so a frame is
// refused even in the moment between a worker taking a job and marking itself busy.
bool CZRFishEyeDewarper::AcceptsFrame()
{
    if (!IsRunning() || !m_pMatSource || !m_pMainWorker)
        return false;
    if (m_pMainWorker->GetMessageCount() != 0 || m_pMainWorker->GetOutstandingCount() != 0 || m_bMainBusy)
        return false;
    for (unsigned int k = 0; k < m_uSubWorkerNum && k < 2; ++k) {
        const std::unique_ptr<CZRThreadWorker>& w = m_pSubWorker[k];
        if (!w || w->GetMessageCount() != 0 || w->GetOutstandingCount() != 0 || m_bSubBusy[k])
            return false;
    }
    return true;
}

int CZRFishEyeDewarper::Process(CZRFrame* pFrame)
{
    const HostGuard hostGuard(m_mtxHost);
    if (!pFrame || !AcceptsFrame())
        return 0;
    CZRPacketPIC* pkt = pFrame->GetPicture();
    if (!zrfe::IsReadablePicture(pkt))
        return 0;
    const int w = static_cast<int>(pkt->m_uWidth);
    SetOrgRadius(static_cast<unsigned int>(w) >> 1, false);  // rebuilds the sub views while the workers are idle
    if (zrfe::PictureToMat(pkt, *m_pMatSource, w, w) != 0)
        return 0;
    return Process();
}

int CZRFishEyeDewarper::Process(tag_ZRFRAME* pFrame)
{
    const HostGuard hostGuard(m_mtxHost);
    if (!pFrame || !AcceptsFrame() || !zrfe::IsReadableFrameDesc(pFrame))
        return 0;
    const int w = pFrame->nWidth;
    SetOrgRadius(static_cast<unsigned int>(w) >> 1, false);
    if (zrfe::FrameDescToMat(pFrame, *m_pMatSource, w, w) != 0)
        return 0;
    return Process();
}

int CZRFishEyeDewarper::Process()
{
    if (!IsRunning() || !m_pMatSource)
        return 0;
    m_pMainWorker->PostWorkerMessage(this, ZR_MSG_MAIN_WORK, nullptr);
    for (unsigned int k = 0; k < m_uSubWorkerNum && k < 2; ++k)
        if (m_pSubWorker[k])
            m_pSubWorker[k]->PostWorkerMessage(this, ZR_MSG_SUB_WORK + k, nullptr);
    return 0;
}

void CZRFishEyeDewarper::TakeMainViewSettings(ZRMainViewSettings& g)
{
    CZRGuard guard(m_pPanoramaMap->m_mtxTables);
    g.uHalfSize = m_uHalfSize;
    g.uRadius = m_uRadius;
    g.nInstallMode = m_eInstallMode;
    g.nViewType = m_eMainViewType;
    g.uAngle = m_stGroundView.uAngle;
    g.stWall = m_stWallView;
    g.matMapX = m_pPanoramaMap->m_matMapX;
    g.matMapY = m_pPanoramaMap->m_matMapY;
}

void CZRFishEyeDewarper::DrawOutlines(cv::Mat& matCircle)
{
    const int count = m_nSubViewNum;
    const int mask = m_nLineMask;
    std::vector<cv::Point> polygon;
    for (int i = 0; i < count && i < 8; ++i) {
        if (!((mask >> i) & 1))
            continue;
        polygon.clear();
        {
            CZRGuard guard(m_mtxSubViewPoints);
            for (const tag_ZR_FE_POINT_S& p : m_stSubViewPoints[i].vecPoints)
                polygon.emplace_back(static_cast<int>(p.nX), static_cast<int>(p.nY));
        }
        if (polygon.empty())
            continue;
        if (polygon.back() != polygon.front())
            polygon.push_back(polygon.front());
        cv::polylines(matCircle, polygon, true, kOutlineColour[i], 2, cv::LINE_8, 0);
    }
}

void CZRFishEyeDewarper::PublishFrameInfo(int nSlot, CZRFrame& frm, bool bMain, int nIndex)
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
    ZRPostMessage(ZR_MSG_FRAME_INFO, &m_stFrameInfo[nSlot], nullptr, 0);
}

int CZRFishEyeDewarper::OnMainWork(CZRMessageT* pMsg, unsigned int, unsigned int&)
{
    if (!pMsg || pMsg->m_uID != ZR_MSG_MAIN_WORK || m_bMainBusy)
        return 0;
    m_bMainBusy = true;
    ZRMainViewSettings settings;
    TakeMainViewSettings(settings);
    try {
        cv::Mat picture;
        if (zrfe::ComposeMainView(*m_pMatSource, settings, [this](cv::Mat& circle) { DrawOutlines(circle); },
                                  picture))
            zrfe::MatToFrame(m_frmMain, picture);
    } catch (const std::exception&) {
        // A picture that cannot be composed leaves the previous one in the frame.
    }
    if (IZRCallback* cb = m_pShowCallback)
        cb->OnSignal(this, 0, nullptr, nullptr);
    PublishFrameInfo(0, m_frmMain, true, -1);
    if (m_uSubWorkerNum == 0)
        ProcessForSub(0, 8);
    m_bMainBusy = false;
    return 0;
}

int CZRFishEyeDewarper::OnSubWork(CZRMessageT* pMsg, unsigned int, unsigned int&)
{
    const unsigned int workers = m_uSubWorkerNum;  // read once: the host may change it meanwhile
    if (!pMsg || workers == 0)
        return 0;
    const unsigned int k = pMsg->m_uID - ZR_MSG_SUB_WORK;
    if (k >= workers || k >= 2)
        return 0;
    m_bSubBusy[k] = true;
    const unsigned int views = static_cast<unsigned int>(m_nSubViewNum.load());
    const unsigned int per = (views + workers - 1) / workers;
    ProcessForSub(k * per, (k + 1) * per);
    m_bSubBusy[k] = false;
    return 0;
}

void CZRFishEyeDewarper::RenderSubView(int nIndex, const cv::Mat& matSource)
{
    cv::Mat mapX, mapY;
    m_pNormalMap[nIndex]->Take(mapX, mapY);
    try {
        if (zrfe::CanRemap(matSource, mapX, mapY)) {
            cv::Mat view;
            cv::remap(matSource, view, mapX, mapY, cv::INTER_LINEAR, cv::BORDER_CONSTANT, cv::Scalar::all(0));
            zrfe::MatToFrame(m_frmSub[nIndex], view);
        }
    } catch (const std::exception&) {
        // The frame keeps its previous picture.
    }
    if (IZRCallback* cb = m_pShowCallback)
        cb->OnSignal(this, nIndex + 1, nullptr, nullptr);
    PublishFrameInfo(1 + nIndex, m_frmSub[nIndex], false, nIndex);
}

void CZRFishEyeDewarper::ProcessForSub(unsigned int uFirst, unsigned int uLast)
{
    const unsigned int end = std::min(uLast, static_cast<unsigned int>(m_nSubViewNum.load()));
    if (uFirst >= end)
        return;
    const cv::Mat source = *m_pMatSource;  // a header: the pixels are shared, not copied
    for (unsigned int i = uFirst; i < end && i < 8; ++i)
        if (m_hSubWnd[i].load())
            RenderSubView(static_cast<int>(i), source);
}

unsigned int CZRFishEyeDewarper::OnThread()
{
    CZRMessageT msg;
    while (IsRunning()) {
        if (ZRGetMessage(msg, 50) != 0 || msg.m_uID != ZR_MSG_FRAME_INFO)
            continue;
        IZRCallback* cb = m_pInfoNotifyCallback;
        if (!cb) {
            // Nobody listens: idle a while (a stop cuts the wait short).
            ThreadSleep(1000);
            continue;
        }
        // The notice carries the view's record as it stands at delivery.
        tag_ZR_FE_FRAME_INFO_S info;
        {
            CZRGuard guard(m_mtxFrameInfo);
            info = *static_cast<tag_ZR_FE_FRAME_INFO_S*>(msg.m_pParam1);
        }
        cb->OnSignal(this, 0, &info, nullptr);
    }
    return 0;
}

int CZRFishEyeDewarper::OnDraw(HWND hWnd, unsigned int, void*, void* pLast)
{
    IZRCallback* cb = m_pInfoNotifyCallback;
    if (hWnd == m_hMainWnd && cb)
        cb->OnSignal(this, 1, hWnd, pLast);
    return 0;
}
