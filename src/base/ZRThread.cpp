// Threads with message queues.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <string>
#include <thread>

#include "ZRBase.h"

struct CZRThread::Impl {
    std::string name;
    unsigned long long stackSize = 0;
    int maxMessages = 30;

    std::mutex mtx;
    std::condition_variable cv;
    std::deque<CZRMessageT> queue;
    std::thread thread;
    std::atomic<bool> running{false};
};

CZRThread::CZRThread(const char* pszName, unsigned long long u64StackSize, int nMaxMessages)
    : m_pImpl(new Impl)
{
    m_pImpl->name = pszName ? pszName : "";
    m_pImpl->stackSize = u64StackSize;
    m_pImpl->maxMessages = nMaxMessages;
}

CZRThread::CZRThread(const CZRThread& other)
    : CZRObject(other), m_pImpl(new Impl)
{
    m_pImpl->name = other.m_pImpl->name;
    m_pImpl->stackSize = other.m_pImpl->stackSize;
    m_pImpl->maxMessages = other.m_pImpl->maxMessages;
}

CZRThread& CZRThread::operator=(const CZRThread& other)
{
    if (this != &other) {
        m_pImpl->name = other.m_pImpl->name;
        m_pImpl->stackSize = other.m_pImpl->stackSize;
        m_pImpl->maxMessages = other.m_pImpl->maxMessages;
    }
    return *this;
}

// A derived class whose body uses its own members must stop the thread in its
// own destructor; this one only makes sure no thread outlives the object.
CZRThread::~CZRThread()
{
    if (m_pImpl->thread.joinable()) {
        m_pImpl->running = false;
        m_pImpl->cv.notify_all();
        m_pImpl->thread.join();
    }
}

int CZRThread::IsRunning() { return m_pImpl->running ? 1 : 0; }
void CZRThread::OnMessageCancel(CZRMessageT&) {}
int CZRThread::OnThreadStart() { return 0; }
void CZRThread::OnThreadStop() {}
void CZRThread::OnThreadClose() {}
unsigned int CZRThread::OnThread() { return 0; }
const char* CZRThread::GetName() const { return m_pImpl->name.c_str(); }

int CZRThread::ThreadStart()
{
    if (m_pImpl->running || m_pImpl->thread.joinable())
        return -1;
    m_pImpl->running = true;
    try {
        m_pImpl->thread = std::thread([this] {
            OnThreadStart();
            OnThread();
            OnThreadClose();
        });
    } catch (const std::exception&) {
        m_pImpl->running = false;  // the system has no thread for us: still stopped
        return -1;
    }
    return 0;
}

int CZRThread::ThreadStop()
{
    if (!m_pImpl->thread.joinable())
        return -1;
    {
        std::lock_guard<std::mutex> lock(m_pImpl->mtx);
        m_pImpl->running = false;
    }
    m_pImpl->cv.notify_all();
    if (m_pImpl->thread.get_id() == std::this_thread::get_id())
        m_pImpl->thread.detach();  // a body that stops itself cannot join itself
    else
        m_pImpl->thread.join();

    std::deque<CZRMessageT> dropped;
    {
        std::lock_guard<std::mutex> lock(m_pImpl->mtx);
        dropped.swap(m_pImpl->queue);
    }
    for (CZRMessageT& msg : dropped)
        OnMessageCancel(msg);
    OnThreadStop();
    return 0;
}

unsigned int CZRThread::GetMessageCount()
{
    std::lock_guard<std::mutex> lock(m_pImpl->mtx);
    return static_cast<unsigned int>(m_pImpl->queue.size());
}

int CZRThread::ZRGetMessage(CZRMessageT& msg, unsigned int uTimeoutMs)
{
    std::unique_lock<std::mutex> lock(m_pImpl->mtx);
    m_pImpl->cv.wait_for(lock, std::chrono::milliseconds(uTimeoutMs),
                         [this] { return !m_pImpl->queue.empty() || !m_pImpl->running; });
    if (m_pImpl->queue.empty())
        return -1;
    msg = m_pImpl->queue.front();
    m_pImpl->queue.pop_front();
    return 0;
}

int CZRThread::ZRPostMessage(unsigned int uID, void* pParam1, void* pParam2, unsigned int uFlags)
{
    {
        std::lock_guard<std::mutex> lock(m_pImpl->mtx);
        if (m_pImpl->maxMessages > 0 && m_pImpl->queue.size() >= static_cast<size_t>(m_pImpl->maxMessages))
            return -1;
        CZRMessageT msg;
        msg.m_uID = uID;
        msg.m_pParam1 = pParam1;
        msg.m_pParam2 = pParam2;
        msg.m_uFlags = uFlags;
        m_pImpl->queue.push_back(msg);
    }
    m_pImpl->cv.notify_all();
    return 0;
}

int CZRThread::ThreadSleep(unsigned int uMs)
{
    std::unique_lock<std::mutex> lock(m_pImpl->mtx);
    return m_pImpl->cv.wait_for(lock, std::chrono::milliseconds(uMs), [this] { return !m_pImpl->running; }) ? 1 : 0;
}
