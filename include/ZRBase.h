// ZRBase: the small runtime that ZRFishEye stands on.
//
// Threads that own a message queue, workers that call an attached owner's
// handler one message at a time, a mutex with its guard, reference-counted
// planar pictures, frames that hold them, and the callback interface through
// which the library talks to its host.
#ifndef ZRBASE_H
#define ZRBASE_H

#include <cstddef>
#include <memory>
#include <mutex>

#if defined(_WIN32)
#include <windows.h>
#if defined(ZRFISHEYE_BUILDING)
#define ZR_API __declspec(dllexport)
#else
#define ZR_API __declspec(dllimport)
#endif
#else
typedef void* HWND;
#define ZR_API __attribute__((visibility("default")))
#endif

class ZR_API CZRObject {
public:
    virtual ~CZRObject();
};

class IZRCallback {
public:
    virtual ~IZRCallback() {}
    // sender: the dewarper; code: the signal number; the two parameters depend on the signal
    virtual int OnSignal(CZRObject* pSender, int nCode, void* pParam1, void* pParam2) = 0;
};

// A mutex that can be copied: a copy is a new, unlocked mutex.
class ZR_API CZRMutex {
public:
    CZRMutex();
    CZRMutex(const CZRMutex&);
    CZRMutex& operator=(const CZRMutex&);
    ~CZRMutex();
    void Lock();
    void Unlock();

private:
    std::mutex m_mtx;
};

// Holds a mutex from construction to destruction.
class ZR_API CZRGuard {
public:
    explicit CZRGuard(CZRMutex& mtx);
    ~CZRGuard();
    CZRGuard(const CZRGuard&) = delete;
    CZRGuard& operator=(const CZRGuard&) = delete;

private:
    CZRMutex& m_mtx;
};

// One queued message. For a worker job, m_pParam2 names the owner whose handler receives it.
struct ZR_API CZRMessageT {
    unsigned int m_uID = 0;
    void* m_pParam1 = nullptr;
    void* m_pParam2 = nullptr;
    unsigned int m_uFlags = 0;
};

// A thread with its own bounded message queue. OnThread is the body; it runs
// between ThreadStart and ThreadStop and should loop while IsRunning().
class ZR_API CZRThread : public CZRObject {
public:
    // pszName: for diagnostics; u64StackSize: ignored on this platform;
    // nMaxMessages: queue bound, posts beyond it are refused (0 or less: unbounded).
    CZRThread(const char* pszName = nullptr, unsigned long long u64StackSize = 0, int nMaxMessages = 30);
    // Copies the settings only; the copy has its own stopped thread and empty queue.
    CZRThread(const CZRThread& other);
    CZRThread& operator=(const CZRThread& other);
    ~CZRThread() override;

    virtual int IsRunning();
    virtual void OnMessageCancel(CZRMessageT& msg);  // a queued message dropped by ThreadStop
    virtual int OnThreadStart();                     // on the new thread, before OnThread
    virtual void OnThreadStop();                     // on the stopping thread, after the join
    virtual void OnThreadClose();                    // on the thread itself, after OnThread
    virtual unsigned int OnThread();

    int ThreadStart();  // -1 when already running
    int ThreadStop();   // asks the body to end, joins it, drops what is queued; -1 when not running
    unsigned int GetMessageCount();
    // 0 when a message was taken, -1 after the timeout (or at once when stopping with none queued).
    int ZRGetMessage(CZRMessageT& msg, unsigned int uTimeoutMs);
    // 0 when queued, -1 when the queue is full.
    int ZRPostMessage(unsigned int uID, void* pParam1, void* pParam2, unsigned int uFlags);
    // Sleeps up to uMs milliseconds; returns early (non-zero) once a stop is asked for.
    int ThreadSleep(unsigned int uMs);
    const char* GetName() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_pImpl;
};

// A thread that delivers posted jobs to the handlers of attached owners, one
// job at a time. It runs from construction to destruction.
class ZR_API CZRThreadWorker : public CZRThread {
public:
    typedef int (CZRObject::*Handler)(CZRMessageT* pMsg, unsigned int uID, unsigned int& uResult);

    CZRThreadWorker(unsigned int uThreads, const char* pszName, unsigned long long u64StackSize, int nMaxMessages);
    ~CZRThreadWorker() override;

    int Attach(CZRObject* pOwner, Handler pfn);
    // After Detach returns, no call of pfn reaches pOwner (a call in progress is waited for).
    int Detach(CZRObject* pOwner, Handler pfn);
    template <class T>
    int Attach(T* pOwner, int (T::*pfn)(CZRMessageT*, unsigned int, unsigned int&))
    {
        return Attach(static_cast<CZRObject*>(pOwner), static_cast<Handler>(pfn));
    }
    template <class T>
    int Detach(T* pOwner, int (T::*pfn)(CZRMessageT*, unsigned int, unsigned int&))
    {
        return Detach(static_cast<CZRObject*>(pOwner), static_cast<Handler>(pfn));
    }

    // Queues a job for pOwner's handlers; 0 when queued, -1 when the queue is full.
    int PostWorkerMessage(CZRObject* pOwner, unsigned int uID, void* pParam);
    // Jobs posted whose handler has not yet returned: queued or in progress.
    unsigned int GetOutstandingCount();

    virtual int OnMessage(CZRMessageT* pMsg);
    virtual int OnPolling();
    unsigned int OnThread() override;
    void OnMessageCancel(CZRMessageT& msg) override;

private:
    struct WorkerImpl;
    std::unique_ptr<WorkerImpl> m_pWorker;
};

// A planar 8-bit picture, reference counted.
// Format 5: plane 0 luma uWidth x uHeight; planes 1 (V) and 2 (U) at half width and half height.
class ZR_API CZRPacketPIC {
public:
    // pPitch: nCount pitches (bytes per line) for planes 0..nCount-1; missing ones default to the
    // plane width. Null for an unknown format, a zero size, a size past the picture limit of
    // ZRFishEyeTypes.h, a pitch below its plane's width or above twice that limit's side.
    static CZRPacketPIC* Acquire(unsigned int uWidth, unsigned int uHeight, unsigned int uFormat,
                                 const unsigned int* pPitch, int nCount);  // holds one reference
    void AddRef();
    void Release();  // drops one reference; the last one frees the packet
    // First byte of the line; null for a plane or line that does not exist.
    unsigned char* GetLine(int nPlane, int nLine);
    // Copies uLines rows of uWidth bytes, stored one after another at pSrc; -1 when they do not fit.
    int SetLine(int nPlane, int nFirstLine, const unsigned char* pSrc, unsigned int uWidth, unsigned int uLines);
    unsigned int GetFormat() const;
    int GetPlaneCount() const;

    unsigned int m_uWidth, m_uHeight;  // readable fields, in this order
    unsigned int m_uLines[3];          // line count of planes 0..2
    unsigned int m_uPitch[3];          // pitch of planes 0..2

    CZRPacketPIC(const CZRPacketPIC&) = delete;
    CZRPacketPIC& operator=(const CZRPacketPIC&) = delete;

private:
    CZRPacketPIC();
    ~CZRPacketPIC();
    struct Impl;
    std::unique_ptr<Impl> m_pImpl;
};

enum { ZR_PIC_FORMAT_YV12 = 5 };

// A frame holds at most one picture packet, with its own reference to it.
class ZR_API CZRFrame {
public:
    CZRFrame();
    CZRFrame(const CZRFrame& other);
    CZRFrame& operator=(const CZRFrame& other);
    ~CZRFrame();
    int SetPicture(CZRPacketPIC* pPacket);  // the frame takes its own reference; null empties it
    CZRPacketPIC* GetPicture() const;       // the current packet, or null

private:
    CZRPacketPIC* m_pPacket;
};

#endif  // ZRBASE_H
