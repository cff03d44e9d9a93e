#include "LockedList.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

namespace {

std::vector<int32_t> ValuesForward(const LockedList& list)
{
    std::vector<int32_t> values;
    for (const ListNode* node = list.Head(); node != nullptr; node = list.Next(node))
        values.push_back(node->value);
    return values;
}

std::vector<int32_t> ValuesBackward(const LockedList& list)
{
    std::vector<int32_t> values;
    for (const ListNode* node = list.Tail(); node != nullptr; node = node->prev)
        values.push_back(node->value);
    return values;
}

void AppendValues(LockedList& list, std::initializer_list<int32_t> values)
{
    for (int32_t value : values)
        ASSERT_TRUE(list.AppendCopy(value, 4, &value));
}

}  // namespace

TEST(LockedList, AppendCopyCopiesAndCounts)
{
    LockedList list;
    uint8_t block[8];
    std::memset(block, 0xAB, 8);
    EXPECT_TRUE(list.AppendCopy(1, 8, block));

    char source[3] = {'a', 'b', 'c'};
    EXPECT_TRUE(list.AppendCopy(2, 3, source));
    source[0] = 'z';

    ListNode* first = list.Head();
    ListNode* second = list.Next(first);
    EXPECT_EQ(std::memcmp(first->data, block, 8), 0);
    EXPECT_NE(second->data, static_cast<void*>(source));
    EXPECT_EQ(std::memcmp(second->data, "abc", 3), 0);
    EXPECT_EQ(list.NodeCount(), 2);
    EXPECT_EQ(list.Count(), 2);
    EXPECT_EQ(list.ByteTotal(), 11u);
}

TEST(LockedList, ZeroLengthCopyHasNoBlockAndRemovesCleanly)
{
    LockedList list;
    EXPECT_TRUE(list.AppendCopy(7, 0, "ignored"));
    ListNode* node = list.Head();
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->data, nullptr);
    EXPECT_EQ(node->length, 0u);
    list.Remove(node);
    EXPECT_EQ(list.Head(), nullptr);
}

// Small nodes are carved one after the other from a chunk; as a store evicts
// as it adds, removed nodes come back for appends of the same size class;
// large copies are not kept.
TEST(LockedList, SmallNodesShareChunksAndRemovedOnesAreReusedForTheirSizeClass)
{
    LockedList list;
    char bytes[LockedList::kSmallDataBytes + 1] = {};
    ASSERT_TRUE(list.AppendCopy(1, 41, bytes));
    ASSERT_TRUE(list.AppendCopy(0, 41, bytes));
    ListNode* small = list.Head();
    EXPECT_EQ(reinterpret_cast<char*>(list.Tail()), reinterpret_cast<char*>(small) + sizeof(ListNode) + 48);
    list.Remove(list.Tail());
    list.Remove(small);
    ASSERT_TRUE(list.AppendCopy(2, 48, bytes));
    EXPECT_EQ(list.Head(), small) << "41 and 48 bytes share a class";
    EXPECT_EQ(list.Head()->data, static_cast<void*>(list.Head() + 1));
    list.Remove(list.Head());
    ASSERT_TRUE(list.AppendCopy(3, 49, bytes));
    EXPECT_NE(list.Head(), small) << "49 bytes need the next class";

    ASSERT_TRUE(list.AppendCopy(4, 0, nullptr));
    ListNode* empty = list.Tail();
    EXPECT_EQ(empty->data, nullptr);
    list.Remove(empty);
    ASSERT_TRUE(list.AppendCopy(5, 0, nullptr));
    EXPECT_EQ(list.Tail(), empty) << "nodes without data have a class of their own";

    ASSERT_TRUE(list.AppendCopy(6, sizeof bytes, bytes));
    EXPECT_EQ(0, std::memcmp(list.Tail()->data, bytes, sizeof bytes));
    EXPECT_EQ(ValuesForward(list), (std::vector<int32_t>{3, 5, 6}));
}

TEST(LockedList, RemovingTheOnlyNodeEmptiesEverything)
{
    LockedList list;
    AppendValues(list, {5});
    list.Remove(list.Head());
    EXPECT_EQ(list.Head(), nullptr);
    EXPECT_EQ(list.Tail(), nullptr);
    EXPECT_EQ(list.NodeCount(), 0);
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(list.ByteTotal(), 0u);
}

TEST(LockedList, RemoveKeepsBothDirectionsLinked)
{
    LockedList list;
    AppendValues(list, {1, 2, 3, 4, 5});
    list.Remove(list.Nth(2));  // middle
    list.Remove(list.Head());  // head
    list.Remove(list.Tail());  // tail
    EXPECT_EQ(ValuesForward(list), (std::vector<int32_t>{2, 4}));
    EXPECT_EQ(ValuesBackward(list), (std::vector<int32_t>{4, 2}));
    EXPECT_EQ(list.NodeCount(), 2);
    EXPECT_EQ(list.Count(), 2);
    EXPECT_EQ(list.ByteTotal(), 8u);
    list.Remove(nullptr);
    EXPECT_EQ(list.Count(), 2);
}

TEST(LockedList, NthAndNextAtTheEdges)
{
    LockedList list;
    EXPECT_EQ(list.Nth(0), nullptr);
    AppendValues(list, {10, 20, 30});
    EXPECT_EQ(list.Nth(-5), list.Head());
    EXPECT_EQ(list.Nth(0)->value, 10);
    EXPECT_EQ(list.Nth(2)->value, 30);
    EXPECT_EQ(list.Nth(3), nullptr);
    EXPECT_EQ(list.Next(nullptr), nullptr);
    EXPECT_EQ(list.Next(list.Tail()), nullptr);
}

TEST(LockedList, ClearFreesEverythingAndTheListIsReusable)
{
    LockedList list;
    AppendValues(list, {1, 2, 3});
    list.Clear();
    EXPECT_EQ(list.Head(), nullptr);
    EXPECT_EQ(list.Tail(), nullptr);
    EXPECT_EQ(list.NodeCount(), 0);
    EXPECT_EQ(list.ByteTotal(), 0u);
    AppendValues(list, {9});
    EXPECT_EQ(ValuesForward(list), (std::vector<int32_t>{9}));
    EXPECT_EQ(ValuesBackward(list), (std::vector<int32_t>{9}));
}

// Writers append from several threads while another clears and a reader
// walks; afterwards the list's own count and byte total agree with its
// nodes, and each writer's surviving nodes are still in its order.
TEST(LockedList, ConcurrentAppendClearAndWalkStayConsistent)
{
    constexpr int Writers = 4;
    constexpr int PerWriter = 2000;
    LockedList list;
    std::atomic<bool> writing{true};

    std::vector<std::thread> writers;
    for (int w = 0; w < Writers; ++w) {
        writers.emplace_back([&list, w] {
            for (int i = 0; i < PerWriter; ++i) {
                const int32_t value = w * PerWriter + i;
                // Small nodes from the chunks, and large ones of their own.
                const std::vector<uint8_t> large(LockedList::kSmallDataBytes + 1 + w);
                if (i % 2 == 0)
                    list.AppendCopy(value, static_cast<uint32_t>(1 + w), &value);
                else
                    list.AppendCopy(value, static_cast<uint32_t>(large.size()), large.data());
            }
        });
    }
    std::thread clearer([&] {
        for (int i = 0; i < 20; ++i) {
            list.Clear();
            std::this_thread::yield();
        }
    });
    std::thread reader([&] {
        while (writing.load()) {
            EXPECT_GE(list.Count(), 0);
            list.Nth(list.NodeCount() / 2);
        }
    });
    for (std::thread& t : writers)
        t.join();
    clearer.join();
    writing = false;
    reader.join();

    uint32_t bytes = 0;
    std::vector<int32_t> lastOfWriter(Writers, -1);
    for (const ListNode* node = list.Head(); node != nullptr; node = list.Next(node)) {
        bytes += node->length;
        const int writer = node->value / PerWriter;
        EXPECT_GT(node->value, lastOfWriter[writer]);
        lastOfWriter[writer] = node->value;
    }
    EXPECT_EQ(list.Count(), list.NodeCount());
    EXPECT_EQ(list.ByteTotal(), bytes);
    EXPECT_EQ(ValuesBackward(list).size(), static_cast<size_t>(list.Count()));
}
