// The base runtime: queues, workers, packets and frames.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "ZRBase.h"

namespace {

using Clock = std::chrono::steady_clock;

TEST(ZRThreadTest, QueueKeepsOrderAndCountAndRespectsItsBound)
{
    CZRThread thread(nullptr, 0, 3);
    EXPECT_EQ(thread.GetMessageCount(), 0u);
    int a = 1, b = 2;
    EXPECT_EQ(thread.ZRPostMessage(10, &a, nullptr, 0), 0);
    EXPECT_EQ(thread.ZRPostMessage(11, &b, nullptr, 7), 0);
    EXPECT_EQ(thread.ZRPostMessage(12, nullptr, &a, 0), 0);
    EXPECT_EQ(thread.ZRPostMessage(13, nullptr, nullptr, 0), -1) << "a fourth message exceeds the bound of 3";
    EXPECT_EQ(thread.GetMessageCount(), 3u);

    thread.ThreadStart();  // ZRGetMessage waits only while the thread runs
    CZRMessageT msg;
    ASSERT_EQ(thread.ZRGetMessage(msg, 10), 0);
    EXPECT_EQ(msg.m_uID, 10u);
    EXPECT_EQ(msg.m_pParam1, &a);
    ASSERT_EQ(thread.ZRGetMessage(msg, 10), 0);
    EXPECT_EQ(msg.m_uID, 11u);
    EXPECT_EQ(msg.m_pParam1, &b);
    EXPECT_EQ(msg.m_uFlags, 7u);
    ASSERT_EQ(thread.ZRGetMessage(msg, 10), 0);
    EXPECT_EQ(msg.m_uID, 12u);
    EXPECT_EQ(msg.m_pParam2, &a);
    EXPECT_EQ(thread.GetMessageCount(), 0u);
    thread.ThreadStop();
}

TEST(ZRThreadTest, GetMessageReturnsAfterItsTimeoutWhenNothingComes)
{
    CZRThread thread;
    thread.ThreadStart();
    CZRMessageT msg;
    const auto t0 = Clock::now();
    EXPECT_EQ(thread.ZRGetMessage(msg, 60), -1);
    const auto waited = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count();
    EXPECT_GE(waited, 50);
    EXPECT_LT(waited, 2000);
    thread.ThreadStop();
}

class CountingThread : public CZRThread {
public:
    std::atomic<int> loops{0};
    std::atomic<int> cancelled{0};
    ~CountingThread() override { ThreadStop(); }
    unsigned int OnThread() override
    {
        while (IsRunning()) {
            ++loops;
            ThreadSleep(5);
        }
        return 0;
    }
    void OnMessageCancel(CZRMessageT&) override { ++cancelled; }
};

TEST(ZRThreadTest, StopJoinsTheBodyAndDropsWhatIsQueued)
{
    CountingThread thread;
    EXPECT_EQ(thread.IsRunning(), 0);
    EXPECT_EQ(thread.ThreadStart(), 0);
    EXPECT_EQ(thread.ThreadStart(), -1) << "already running";
    EXPECT_NE(thread.IsRunning(), 0);
    thread.ZRPostMessage(1, nullptr, nullptr, 0);
    thread.ZRPostMessage(2, nullptr, nullptr, 0);
    while (thread.loops < 2)
        std::this_thread::yield();
    EXPECT_EQ(thread.ThreadStop(), 0);
    EXPECT_EQ(thread.IsRunning(), 0);
    const int loopsAtStop = thread.loops;
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(thread.loops, loopsAtStop) << "the body must have ended when ThreadStop returned";
    EXPECT_EQ(thread.cancelled, 2);
    EXPECT_EQ(thread.GetMessageCount(), 0u);
    EXPECT_EQ(thread.ThreadStop(), -1);
    EXPECT_EQ(thread.ThreadStart(), 0) << "a stopped thread can run again";
}

class Owner : public CZRObject {
public:
    std::mutex mtx;
    std::vector<unsigned int> ids;
    std::vector<std::thread::id> threads;
    std::atomic<int> inside{0};
    std::atomic<int> overlaps{0};
    std::atomic<int> calls{0};
    int delayMs = 0;

    int Handle(CZRMessageT* pMsg, unsigned int uID, unsigned int&)
    {
        if (inside.fetch_add(1) != 0)
            ++overlaps;
        if (delayMs)
            std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        {
            std::lock_guard<std::mutex> lock(mtx);
            ids.push_back(uID);
            threads.push_back(std::this_thread::get_id());
            EXPECT_EQ(pMsg->m_uID, uID);
        }
        --inside;
        ++calls;
        return 0;
    }
};

bool WaitFor(const std::function<bool()>& done, int timeoutMs = 5000)
{
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (Clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

TEST(ZRThreadWorkerTest, HandlerCallsAreSerialisedOnTheWorkerThreadInOrder)
{
    Owner owner;
    owner.delayMs = 2;
    CZRThreadWorker worker(1, "TestWorker", 0, 32);
    ASSERT_EQ(worker.Attach(&owner, &Owner::Handle), 0);
    for (unsigned int id = 1; id <= 10; ++id)
        ASSERT_EQ(worker.PostWorkerMessage(&owner, id, nullptr), 0);
    ASSERT_TRUE(WaitFor([&] { return owner.calls == 10; }));
    EXPECT_TRUE(WaitFor([&] { return worker.GetOutstandingCount() == 0; }));
    std::lock_guard<std::mutex> lock(owner.mtx);
    for (unsigned int i = 0; i < 10; ++i)
        EXPECT_EQ(owner.ids[i], i + 1);
    for (const auto& t : owner.threads) {
        EXPECT_EQ(t, owner.threads[0]);
        EXPECT_NE(t, std::this_thread::get_id());
    }
    EXPECT_EQ(owner.overlaps, 0);
}

TEST(ZRThreadWorkerTest, OutstandingCountCoversAJobUntilItsHandlerReturns)
{
    Owner owner;
    owner.delayMs = 100;
    CZRThreadWorker worker(1, "TestWorker", 0, 32);
    worker.Attach(&owner, &Owner::Handle);
    worker.PostWorkerMessage(&owner, 1, nullptr);
    EXPECT_EQ(worker.GetOutstandingCount(), 1u);
    ASSERT_TRUE(WaitFor([&] { return owner.inside == 1; }));
    EXPECT_EQ(worker.GetMessageCount(), 0u) << "taken off the queue";
    EXPECT_EQ(worker.GetOutstandingCount(), 1u) << "but still outstanding while its handler runs";
    ASSERT_TRUE(WaitFor([&] { return worker.GetOutstandingCount() == 0; }));
    EXPECT_EQ(owner.calls, 1);
}

TEST(ZRThreadWorkerTest, NoCallReachesAnOwnerAfterDetachAndDeletion)
{
    Owner owner;
    owner.delayMs = 150;  // long enough that the queue cannot drain before Detach, even under a sanitizer
    {
        CZRThreadWorker worker(1, "TestWorker", 0, 32);
        worker.Attach(&owner, &Owner::Handle);
        for (int i = 0; i < 10; ++i)
            worker.PostWorkerMessage(&owner, 5, nullptr);
        ASSERT_TRUE(WaitFor([&] { return owner.calls >= 1; }));
        worker.Detach(&owner, &Owner::Handle);
        const int callsAtDetach = owner.calls;
        EXPECT_EQ(owner.inside, 0) << "Detach waits for the call in progress";
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        EXPECT_EQ(owner.calls, callsAtDetach);
    }  // deleted with jobs still queued
    const int callsAtDeletion = owner.calls;
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(owner.calls, callsAtDeletion);
    EXPECT_LT(callsAtDeletion, 10);
}

TEST(ZRPacketTest, AcquireLaysOutThreePlanesWithPitches)
{
    const unsigned int pitch[2] = {64, 40};
    CZRPacketPIC* pkt = CZRPacketPIC::Acquire(50, 30, ZR_PIC_FORMAT_YV12, pitch, 2);
    ASSERT_NE(pkt, nullptr);
    EXPECT_EQ(pkt->m_uWidth, 50u);
    EXPECT_EQ(pkt->m_uHeight, 30u);
    EXPECT_EQ(pkt->m_uLines[0], 30u);
    EXPECT_EQ(pkt->m_uLines[1], 15u);
    EXPECT_EQ(pkt->m_uLines[2], 15u);
    EXPECT_EQ(pkt->m_uPitch[0], 64u);
    EXPECT_EQ(pkt->m_uPitch[1], 40u);
    EXPECT_EQ(pkt->m_uPitch[2], 25u) << "a missing pitch defaults to the plane width";
    EXPECT_EQ(pkt->GetLine(0, 1) - pkt->GetLine(0, 0), 64);
    EXPECT_EQ(pkt->GetLine(1, 14) - pkt->GetLine(1, 0), 14 * 40);
    EXPECT_EQ(pkt->GetLine(0, 30), nullptr);
    EXPECT_EQ(pkt->GetLine(3, 0), nullptr);
    EXPECT_EQ(pkt->GetLine(0, -1), nullptr);
    pkt->Release();

    const unsigned int tooShort[1] = {40};
    EXPECT_EQ(CZRPacketPIC::Acquire(50, 30, ZR_PIC_FORMAT_YV12, tooShort, 1), nullptr);
    EXPECT_EQ(CZRPacketPIC::Acquire(0, 30, ZR_PIC_FORMAT_YV12, nullptr, 0), nullptr);
    EXPECT_EQ(CZRPacketPIC::Acquire(50, 30, 99, nullptr, 0), nullptr);
}

TEST(ZRPacketTest, SetLineWritesRowsWithoutTouchingThePadding)
{
    const unsigned int pitch[1] = {8};
    CZRPacketPIC* pkt = CZRPacketPIC::Acquire(6, 4, ZR_PIC_FORMAT_YV12, pitch, 1);
    ASSERT_NE(pkt, nullptr);
    std::vector<unsigned char> rows(6 * 3);
    for (size_t i = 0; i < rows.size(); ++i)
        rows[i] = static_cast<unsigned char>(i + 1);
    ASSERT_EQ(pkt->SetLine(0, 1, rows.data(), 6, 3), 0);
    for (int y = 1; y < 4; ++y) {
        const unsigned char* line = pkt->GetLine(0, y);
        for (int x = 0; x < 6; ++x)
            EXPECT_EQ(line[x], (y - 1) * 6 + x + 1);
        EXPECT_EQ(line[6], 0) << "padding stays";
        EXPECT_EQ(line[7], 0);
    }
    EXPECT_EQ(pkt->GetLine(0, 0)[0], 0);
    EXPECT_EQ(pkt->SetLine(0, 2, rows.data(), 6, 3), -1) << "past the last line";
    EXPECT_EQ(pkt->SetLine(0, 0, rows.data(), 9, 1), -1) << "wider than the pitch";
    EXPECT_EQ(pkt->SetLine(3, 0, rows.data(), 1, 1), -1);
    pkt->Release();
}

TEST(ZRFrameTest, CopiesAndAssignmentsShareOnePacket)
{
    CZRPacketPIC* pkt = CZRPacketPIC::Acquire(4, 4, ZR_PIC_FORMAT_YV12, nullptr, 0);
    ASSERT_NE(pkt, nullptr);
    {
        CZRFrame a;
        EXPECT_EQ(a.GetPicture(), nullptr);
        a.SetPicture(pkt);
        pkt->Release();  // the frame's reference keeps it alive
        CZRFrame b(a);
        CZRFrame c;
        c = b;
        EXPECT_EQ(b.GetPicture(), pkt);
        EXPECT_EQ(c.GetPicture(), pkt);
        c = c;  // self-assignment keeps the packet
        EXPECT_EQ(c.GetPicture(), pkt);
        a.SetPicture(nullptr);
        EXPECT_EQ(a.GetPicture(), nullptr);
        pkt->GetLine(0, 0)[0] = 77;  // still alive through b and c (AddressSanitizer checks the rest)
        EXPECT_EQ(c.GetPicture()->GetLine(0, 0)[0], 77);
    }
}

}  // namespace
