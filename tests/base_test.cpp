// The base runtime: queues, workers, packets and frames.
#include <atomic>
#include <chrono>
#include <future>
#include <numeric>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <opencv2/core.hpp>

#include "base/LargePictures.h"

#include "TestSupport.h"

namespace {

using zrtest::WaitUntil;

TEST(ZRThreadTest, QueueKeepsOrderCountAndBoundAndGetMessageTimesOut)
{
    CZRThread thread(nullptr, 0, 3);
    int a = 1, b = 2;
    const CZRMessageT posted[3] = {{10, &a, nullptr, 0}, {11, &b, nullptr, 7}, {12, nullptr, &a, 0}};
    for (const CZRMessageT& m : posted)
        EXPECT_EQ(thread.ZRPostMessage(m.m_uID, m.m_pParam1, m.m_pParam2, m.m_uFlags), 0);
    EXPECT_EQ(thread.ZRPostMessage(13, nullptr, nullptr, 0), -1) << "a fourth message exceeds the bound of 3";
    EXPECT_EQ(thread.GetMessageCount(), 3u);

    thread.ThreadStart();  // ZRGetMessage waits only while the thread runs
    CZRMessageT msg;
    for (const CZRMessageT& m : posted) {
        ASSERT_EQ(thread.ZRGetMessage(msg, 10), 0);
        EXPECT_EQ(std::tie(msg.m_uID, msg.m_pParam1, msg.m_pParam2, msg.m_uFlags),
                  std::tie(m.m_uID, m.m_pParam1, m.m_pParam2, m.m_uFlags));
    }
    EXPECT_EQ(thread.GetMessageCount(), 0u);
    // An empty queue: -1 once the timeout has passed, not before and not much later.
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(thread.ZRGetMessage(msg, 60), -1);
    const auto waited = std::chrono::steady_clock::now() - t0;
    EXPECT_GE(waited, std::chrono::milliseconds(50));
    EXPECT_LT(waited, std::chrono::milliseconds(2000));
}

class CountingThread : public CZRThread {
public:
    std::atomic<int> loops{0}, cancelled{0};
    std::atomic<bool> ended{false};
    ~CountingThread() override { ThreadStop(); }
    unsigned int OnThread() override
    {
        for (ended = false; IsRunning(); ++loops)
            ThreadSleep(5);
        ended = true;
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
    ASSERT_TRUE(WaitUntil([&] { return thread.loops >= 2; }));
    EXPECT_EQ(thread.ThreadStop(), 0);
    EXPECT_EQ(thread.IsRunning(), 0);
    EXPECT_TRUE(thread.ended) << "the body has returned when ThreadStop returns";
    EXPECT_EQ(thread.cancelled, 2);
    EXPECT_EQ(thread.GetMessageCount(), 0u);
    EXPECT_EQ(thread.ThreadStop(), -1);
    const int loops = thread.loops;
    EXPECT_EQ(thread.ThreadStart(), 0) << "a stopped thread can run again";
    EXPECT_TRUE(WaitUntil([&] { return thread.loops > loops; }));
}

class Owner : public CZRObject {
public:
    std::vector<std::pair<unsigned int, std::thread::id>> seen;  // id and thread of each call (one writer)
    std::atomic<int> inside{0}, calls{0};
    int delayMs = 0;                // work that each call simulates
    std::shared_future<void> gate;  // when valid, each call waits for it

    int Handle(CZRMessageT* pMsg, unsigned int uID, unsigned int&)
    {
        ++inside;
        if (gate.valid())
            gate.wait();
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        EXPECT_EQ(pMsg->m_uID, uID);
        seen.emplace_back(uID, std::this_thread::get_id());
        --inside;
        ++calls;
        return 0;
    }
};

TEST(ZRThreadWorkerTest, JobsRunInOrderOnTheWorkerThreadAndCountUntilTheirHandlersReturn)
{
    Owner owner;
    std::promise<void> open;
    owner.gate = open.get_future().share();
    CZRThreadWorker worker(1, "TestWorker", 0, 32);
    ASSERT_EQ(worker.Attach(&owner, &Owner::Handle), 0);
    for (unsigned int id = 1; id <= 10; ++id)
        ASSERT_EQ(worker.PostWorkerMessage(&owner, id, nullptr), 0);
    ASSERT_TRUE(WaitUntil([&] { return owner.inside == 1; }));
    EXPECT_EQ(worker.GetMessageCount(), 9u) << "the first job is off the queue";
    EXPECT_EQ(worker.GetOutstandingCount(), 10u) << "but outstanding while its handler runs";
    open.set_value();
    ASSERT_TRUE(WaitUntil([&] { return owner.calls == 10 && worker.GetOutstandingCount() == 0; }));
    for (unsigned int i = 0; i < 10; ++i)  // all on one thread, so no two calls overlap
        EXPECT_EQ(owner.seen[i], std::make_pair(i + 1, owner.seen[0].second));
    EXPECT_NE(owner.seen[0].second, std::this_thread::get_id());
}

TEST(ZRThreadWorkerTest, NoCallReachesAnOwnerAfterDetachOrDeletion)
{
    // Each call takes 50 ms, so jobs are still queued when Detach comes.
    Owner owner, sentinel, other;
    owner.delayMs = other.delayMs = 50;
    CZRThreadWorker worker(1, "TestWorker", 0, 32);
    worker.Attach(&owner, &Owner::Handle);
    worker.Attach(&sentinel, &Owner::Handle);
    for (int i = 0; i < 10; ++i)
        worker.PostWorkerMessage(&owner, 5, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return owner.inside == 1; }));
    worker.Detach(&owner, &Owner::Handle);
    EXPECT_EQ(owner.inside, 0) << "Detach waits for the call in progress";
    const int callsAtDetach = owner.calls;
    // Jobs run in order: once the sentinel's has run, the owner's queued jobs were passed over.
    worker.PostWorkerMessage(&sentinel, 6, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return sentinel.calls == 1 && worker.GetOutstandingCount() == 0; }));
    EXPECT_EQ(owner.calls, callsAtDetach);

    // Deleted with jobs queued: the call in progress ends first, the rest never run.
    {
        CZRThreadWorker doomed(1, "TestWorker", 0, 32);
        doomed.Attach(&other, &Owner::Handle);
        for (int i = 0; i < 10; ++i)
            doomed.PostWorkerMessage(&other, 7, nullptr);
        ASSERT_TRUE(WaitUntil([&] { return other.inside == 1; }));
    }
    EXPECT_EQ(other.inside, 0);
    EXPECT_LT(other.calls, 10);
}

TEST(ZRPacketTest, AcquireLaysOutThreePlanesWithPitches)
{
    const unsigned int pitch[2] = {64, 40};
    CZRPacketPIC* pkt = CZRPacketPIC::Acquire(50, 30, ZR_PIC_FORMAT_YV12, pitch, 2);
    ASSERT_NE(pkt, nullptr);
    EXPECT_EQ(pkt->GetPlaneCount(), 3);
    EXPECT_EQ(std::make_pair(pkt->m_uWidth, pkt->m_uHeight), std::make_pair(50u, 30u));
    using Row = std::vector<unsigned int>;
    EXPECT_EQ(Row(pkt->m_uLines, pkt->m_uLines + 3), (Row{30, 15, 15}));
    EXPECT_EQ(Row(pkt->m_uPitch, pkt->m_uPitch + 3), (Row{64, 40, 25})) << "a missing pitch: the plane width";
    EXPECT_EQ(pkt->GetLine(0, 1) - pkt->GetLine(0, 0), 64);
    EXPECT_EQ(pkt->GetLine(1, 14) - pkt->GetLine(1, 0), 14 * 40);
    EXPECT_TRUE(!pkt->GetLine(0, 30) && !pkt->GetLine(3, 0) && !pkt->GetLine(0, -1)) << "no such line or plane";
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
    std::iota(rows.begin(), rows.end(), 1);
    ASSERT_EQ(pkt->SetLine(0, 1, rows.data(), 6, 3), 0);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 8; ++x)  // row 0 and the padding stay 0
            EXPECT_EQ(pkt->GetLine(0, y)[x], y >= 1 && x < 6 ? (y - 1) * 6 + x + 1 : 0) << x << "," << y;
    EXPECT_EQ(pkt->SetLine(0, 2, rows.data(), 6, 3), -1) << "past the last line";
    EXPECT_EQ(pkt->SetLine(0, 0, rows.data(), 9, 1), -1) << "wider than the pitch";
    EXPECT_EQ(pkt->SetLine(3, 0, rows.data(), 1, 1), -1);
    pkt->Release();
}

TEST(ZRFrameTest, CopiesAndAssignmentsShareOnePacket)
{
    CZRPacketPIC* pkt = CZRPacketPIC::Acquire(4, 4, ZR_PIC_FORMAT_YV12, nullptr, 0);
    ASSERT_NE(pkt, nullptr);
    CZRFrame a;
    EXPECT_EQ(a.GetPicture(), nullptr);
    a.SetPicture(pkt);
    pkt->Release();  // the frame's reference keeps it alive
    CZRFrame b(a), c;
    c = b;
    c = *&c;  // self-assignment keeps the packet
    EXPECT_EQ(b.GetPicture(), pkt);
    EXPECT_EQ(c.GetPicture(), pkt);
    a.SetPicture(nullptr);
    EXPECT_EQ(a.GetPicture(), nullptr);
    pkt->GetLine(0, 0)[0] = 77;  // still alive through b and c (AddressSanitizer checks the rest)
    EXPECT_EQ(c.GetPicture()->GetLine(0, 0)[0], 77);
}

// The working picture and the lens circle are made this way every frame: a
// buffer of the same shape is kept, and one still held elsewhere outlives a resize.
TEST(LargePictureTest, KeepsItsBufferForOneShapeAndStaysValidWhileShared)
{
    const int side = 1500;  // about 6.4 MB, large enough for large pages
    cv::Mat picture;
    zrbase::CreateLargePicture(picture, side, side, CV_8UC3);
    ASSERT_EQ(picture.size(), cv::Size(side, side));
    EXPECT_EQ(picture.type(), CV_8UC3);
    EXPECT_TRUE(picture.isContinuous());
    const unsigned char* first = picture.data;
#if defined(__linux__)
    EXPECT_EQ(reinterpret_cast<uintptr_t>(first) % (uintptr_t(2) << 20), 0u);
#endif
    zrbase::CreateLargePicture(picture, side, side, CV_8UC3);
    EXPECT_EQ(picture.data, first);

    cv::Mat held = picture;
    held.setTo(cv::Scalar(7, 8, 9));
    zrbase::CreateLargePicture(picture, side + 1, side, CV_8UC3);
    EXPECT_NE(picture.data, first);
    EXPECT_EQ(held.data, first);
    EXPECT_EQ(cv::sum(held), cv::Scalar(7, 8, 9) * double(side) * side);
    picture.setTo(cv::Scalar(1, 2, 3));
    held.release();

    cv::Mat small;
    zrbase::CreateLargePicture(small, 3, 5, CV_8UC1);
    small.setTo(1);
    EXPECT_EQ(cv::sum(small)[0], 15);
}

}  // namespace
