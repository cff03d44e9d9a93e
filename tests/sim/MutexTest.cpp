// Mutexes that programs wait on: ownership by one thread at a time, the
// owner's recursive acquisitions, release by the owner only, and a mutex
// abandoned by a thread that ends while owning it. Runs on the simulation and
// under Wine.
#include "TestMachine.h"

#include <gtest/gtest.h>

namespace {

// What a helper thread does with the mutex and what it saw.
struct OtherThread {
    HANDLE mutex;
    DWORD wait;  // result of its WaitForSingleObject
    DWORD timeout;
    BOOL released;
    DWORD releaseError;
};

// Waits for the mutex, then tries to release it twice (the second release
// must fail) or once when the wait failed.
DWORD WINAPI WaitAndRelease(LPVOID parameter)
{
    auto* other = static_cast<OtherThread*>(parameter);
    other->wait = WaitForSingleObject(other->mutex, other->timeout);
    other->released = ReleaseMutex(other->mutex);
    if (other->released)
        other->released = !ReleaseMutex(other->mutex);
    other->releaseError = GetLastError();
    return 0;
}

// Takes the mutex and ends without releasing it.
DWORD WINAPI TakeAndEnd(LPVOID parameter)
{
    return WaitForSingleObject(static_cast<HANDLE>(parameter), INFINITE);
}

void RunToEnd(LPTHREAD_START_ROUTINE routine, LPVOID parameter)
{
    HANDLE thread = CreateThread(nullptr, 0, routine, parameter, 0, nullptr);
    ASSERT_NE(nullptr, thread);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, INFINITE));
    CloseHandle(thread);
}

class MutexTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        if (mutex)
            CloseHandle(mutex);
    }

    TestMachine machine;
    HANDLE mutex = nullptr;
};

TEST_F(MutexTest, TheOwnerAcquiresAgainAndReleasesAsOftenAsItAcquired)
{
    mutex = CreateMutexA(nullptr, TRUE, nullptr);
    ASSERT_NE(nullptr, mutex);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(mutex, 0));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(mutex, INFINITE));
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_TRUE(ReleaseMutex(mutex));
    SetLastError(0);
    EXPECT_FALSE(ReleaseMutex(mutex)) << "acquired three times, released three times";
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_OWNER), GetLastError());
}

TEST_F(MutexTest, AnotherThreadNeitherTakesNorReleasesAnOwnedMutex)
{
    mutex = CreateMutexA(nullptr, TRUE, nullptr);
    ASSERT_NE(nullptr, mutex);
    OtherThread other{mutex, 0, 0, TRUE, 0};
    RunToEnd(WaitAndRelease, &other);
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), other.wait);
    EXPECT_FALSE(other.released);
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_OWNER), other.releaseError);
    EXPECT_TRUE(ReleaseMutex(mutex)) << "still owned by its creator";
}

TEST_F(MutexTest, AFreedMutexGoesToTheNextThreadOnce)
{
    mutex = CreateMutexA(nullptr, FALSE, nullptr);
    ASSERT_NE(nullptr, mutex);
    OtherThread other{mutex, 0, INFINITE, FALSE, 0};
    RunToEnd(WaitAndRelease, &other);
    EXPECT_EQ(WAIT_OBJECT_0, other.wait);
    EXPECT_TRUE(other.released) << "one release succeeds, the second fails";
    EXPECT_EQ(static_cast<DWORD>(ERROR_NOT_OWNER), other.releaseError);
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(mutex, 0)) << "free again after the other thread's release";
    EXPECT_TRUE(ReleaseMutex(mutex));
}

TEST_F(MutexTest, AWaiterWakesWhenTheOwnerReleases)
{
    mutex = CreateMutexA(nullptr, TRUE, nullptr);
    ASSERT_NE(nullptr, mutex);
    OtherThread other{mutex, 0, INFINITE, FALSE, 0};
    HANDLE thread = CreateThread(nullptr, 0, WaitAndRelease, &other, 0, nullptr);
    ASSERT_NE(nullptr, thread);
    EXPECT_EQ(static_cast<DWORD>(WAIT_TIMEOUT), WaitForSingleObject(thread, 0)) << "blocked on the mutex";
    EXPECT_TRUE(ReleaseMutex(mutex));
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, INFINITE));
    CloseHandle(thread);
    EXPECT_EQ(WAIT_OBJECT_0, other.wait);
    EXPECT_TRUE(other.released);
}

TEST_F(MutexTest, AThreadThatEndsOwningTheMutexAbandonsIt)
{
    mutex = CreateMutexA(nullptr, FALSE, nullptr);
    ASSERT_NE(nullptr, mutex);
    RunToEnd(TakeAndEnd, mutex);
    EXPECT_EQ(WAIT_ABANDONED, WaitForSingleObject(mutex, 0));
    EXPECT_TRUE(ReleaseMutex(mutex)) << "the abandoned mutex now belongs to this thread";
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(mutex, 0)) << "abandoned is reported once";
    EXPECT_TRUE(ReleaseMutex(mutex));
}

TEST_F(MutexTest, AllHandlesOfANamedMutexShareTheOwnership)
{
    mutex = CreateMutexA(nullptr, TRUE, "ZerrowSoft_Vantrel_MutexTest");
    ASSERT_NE(nullptr, mutex);
    HANDLE second = CreateMutexA(nullptr, TRUE, "ZerrowSoft_Vantrel_MutexTest");
    ASSERT_NE(nullptr, second);
    EXPECT_EQ(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError());
    EXPECT_TRUE(ReleaseMutex(second)) << "owned through the first handle";
    EXPECT_FALSE(ReleaseMutex(second)) << "the second creation did not acquire it";
    OtherThread other{second, 0, INFINITE, FALSE, 0};
    RunToEnd(WaitAndRelease, &other);
    EXPECT_EQ(WAIT_OBJECT_0, other.wait);
    CloseHandle(second);
}

}  // namespace
