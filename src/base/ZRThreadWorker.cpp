// Workers: threads that hand each posted job to the handler of its owner.
#include <algorithm>
#include <atomic>
#include <mutex>
#include <vector>

#include "ZRBase.h"

namespace {
const unsigned int kPollingMs = 20;
const unsigned int kWorkerJobFlag = 0x5A52;  // marks a job posted with PostWorkerMessage
}  // namespace

struct CZRThreadWorker::WorkerImpl {
    struct Binding {
        CZRObject* owner;
        Handler handler;
    };
    // Held while a handler runs, so Detach can wait for a call in progress.
    // Recursive: a handler may detach itself from its own worker thread.
    std::recursive_mutex callMutex;
    std::vector<Binding> bindings;
    std::atomic<unsigned int> outstanding{0};
};

CZRThreadWorker::CZRThreadWorker(unsigned int, const char* pszName, unsigned long long u64StackSize, int nMaxMessages)
    : CZRThread(pszName, u64StackSize, nMaxMessages), m_pWorker(new WorkerImpl)
{
    ThreadStart();
}

CZRThreadWorker::~CZRThreadWorker()
{
    ThreadStop();
}

int CZRThreadWorker::Attach(CZRObject* pOwner, Handler pfn)
{
    if (!pOwner || !pfn)
        return -1;
    std::lock_guard<std::recursive_mutex> lock(m_pWorker->callMutex);
    m_pWorker->bindings.push_back({pOwner, pfn});
    return 0;
}

int CZRThreadWorker::Detach(CZRObject* pOwner, Handler pfn)
{
    std::lock_guard<std::recursive_mutex> lock(m_pWorker->callMutex);
    auto& b = m_pWorker->bindings;
    auto it = std::find_if(b.begin(), b.end(), [&](const WorkerImpl::Binding& x) {
        return x.owner == pOwner && x.handler == pfn;
    });
    if (it == b.end())
        return -1;
    b.erase(it);
    return 0;
}

int CZRThreadWorker::PostWorkerMessage(CZRObject* pOwner, unsigned int uID, void* pParam)
{
    // Counted before it is queued, so the job is visible from the moment it is posted.
    m_pWorker->outstanding.fetch_add(1);
    if (ZRPostMessage(uID, pParam, pOwner, kWorkerJobFlag) != 0) {
        m_pWorker->outstanding.fetch_sub(1);
        return -1;
    }
    return 0;
}

unsigned int CZRThreadWorker::GetOutstandingCount()
{
    return m_pWorker->outstanding.load();
}

int CZRThreadWorker::OnMessage(CZRMessageT* pMsg)
{
    std::lock_guard<std::recursive_mutex> lock(m_pWorker->callMutex);
    CZRObject* owner = static_cast<CZRObject*>(pMsg->m_pParam2);
    // Index loop: a handler may detach bindings while we walk them.
    for (size_t i = 0; i < m_pWorker->bindings.size(); ++i) {
        const WorkerImpl::Binding bound = m_pWorker->bindings[i];
        if (bound.owner != owner)
            continue;
        unsigned int result = 0;
        (bound.owner->*bound.handler)(pMsg, pMsg->m_uID, result);
    }
    return 0;
}

int CZRThreadWorker::OnPolling() { return 0; }

unsigned int CZRThreadWorker::OnThread()
{
    CZRMessageT msg;
    while (IsRunning()) {
        if (ZRGetMessage(msg, kPollingMs) == 0) {
            OnMessage(&msg);
            if (msg.m_uFlags == kWorkerJobFlag)
                m_pWorker->outstanding.fetch_sub(1);
        } else {
            OnPolling();
        }
    }
    return 0;
}

void CZRThreadWorker::OnMessageCancel(CZRMessageT& msg)
{
    if (msg.m_uFlags == kWorkerJobFlag)
        m_pWorker->outstanding.fetch_sub(1);
}
