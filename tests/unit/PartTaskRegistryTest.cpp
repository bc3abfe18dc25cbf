// The process-wide registry: the query rules of the part table, the piece-task
// table, and both from many threads.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "StorageClient/operations/PartTaskRegistry.h"

namespace Orca {
namespace CloudStorage {
namespace {

// Each test uses task ids and keys of its own: the registry is process-wide.
std::string TaskId(const std::string& name) { return "registry-test-" + name; }

SPartTaskInfo Part(const std::string& task_id, uint32_t number, uint32_t count,
                   bool finished = false, uint32_t failed = 0) {
  SPartTaskInfo info;
  info.task_id = task_id;
  info.part_number = number;
  info.part_count = count;
  info.finished = finished;
  info.failed = failed;
  return info;
}

class PartTaskRegistryTest : public ::testing::Test {
 protected:
  // QueryUpload's result, with `failed_` and `percent_` as it left them.
  bool Query(const std::string& id) { return registry_.QueryUpload(failed_, percent_, id); }

  CPartTaskRegistry& registry_ = CPartTaskRegistry::GetInstance();
  uint32_t failed_ = 77;
  int32_t percent_ = 88;
};

TEST_F(PartTaskRegistryTest, FailureSeenOnlyOnceEarlierPartsFinished) {
  const std::string id = TaskId("failure-order");
  EXPECT_FALSE(Query(id));  // unknown: nothing written
  EXPECT_EQ(failed_, 77u);
  EXPECT_EQ(percent_, 88);
  ASSERT_TRUE(registry_.RegisterPart(id, Part(id, 1, 2)));
  ASSERT_TRUE(registry_.RegisterPart(id, Part(id, 2, 2)));
  ASSERT_TRUE(registry_.MarkPartDone(id, Part(id, 2, 2, true, 1)));
  EXPECT_FALSE(Query(id));
  EXPECT_EQ(failed_, 77u);
  EXPECT_EQ(percent_, 50);

  ASSERT_TRUE(registry_.MarkPartDone(id, Part(id, 1, 2, true)));
  EXPECT_TRUE(Query(id));
  EXPECT_EQ(failed_, 1u);
  EXPECT_EQ(percent_, 100);
  EXPECT_FALSE(Query(id)) << "the part entry is gone: the next query waits for new parts";
  registry_.DropUpload(id);
}

TEST_F(PartTaskRegistryTest, PercentageUsesTheFirstRecordsPartCount) {
  const struct {
    uint32_t part_count;
    uint32_t finished;
    int32_t percent;
  } cases[] = {{4, 3, 75}, {3, 1, 33}, {6, 6, 100}};
  for (const auto& c : cases) {
    const std::string id = TaskId("percent-" + std::to_string(c.part_count));
    for (uint32_t n = 1; n <= c.part_count; ++n) {
      // Later records claim another part count; only the first one counts.
      registry_.RegisterPart(id, Part(id, n, n == 1 ? c.part_count : 99));
    }
    registry_.RegisterPart(id, Part(id, 1, 99, true));  // a duplicate keeps the first record
    for (uint32_t n = 1; n <= c.finished; ++n) {
      registry_.MarkPartDone(id, Part(id, n, c.part_count, true));
    }
    EXPECT_EQ(Query(id), c.finished == c.part_count);
    EXPECT_EQ(percent_, c.percent);
    registry_.DropUpload(id);
  }
}

TEST_F(PartTaskRegistryTest, MarkPartDoneChangesNothingOnceThePartIsGone) {
  const std::string id = TaskId("after-removal");
  registry_.RegisterPart(id, Part(id, 1, 2));
  EXPECT_FALSE(registry_.MarkPartDone(id, Part(id, 2, 2, true))) << "never registered";
  registry_.MarkPartDone(id, Part(id, 1, 2, true));
  ASSERT_TRUE(Query(id));  // removes the part entry
  EXPECT_EQ(percent_, 50);
  EXPECT_FALSE(registry_.MarkPartDone(id, Part(id, 1, 2, true)));
  // Not even the finished count moved.
  registry_.RegisterPart(id, Part(id, 3, 2));
  EXPECT_FALSE(Query(id));
  EXPECT_EQ(percent_, 50);
  registry_.DropUpload(id);
  EXPECT_FALSE(registry_.MarkPartDone(id, Part(id, 3, 2, true)));
}

// The piece upload tests cover the table end to end (a second task for a key
// refused, the task closed after the last piece); these are the rules they
// cannot reach.
TEST_F(PartTaskRegistryTest, PieceTaskRules) {
  const std::string key = "piece-test-rules.pfile";
  SPieceTask found;
  uint32_t highest = 0;
  uint32_t last = 0;
  EXPECT_FALSE(registry_.AddPiece(key, 1, 10)) << "no task yet";
  EXPECT_FALSE(registry_.SetLastPiece(key, 1, 10)) << "no task yet";
  ASSERT_TRUE(registry_.AddPieceTask(SPieceTask{"task-1", "10.0.0.2:6001", key}));
  // A key that merely starts like another is a task of its own.
  ASSERT_TRUE(registry_.AddPieceTask(SPieceTask{"task-3", "", key + "-longer"}));
  ASSERT_TRUE(registry_.AddPiece(key + "-longer", 1, 1));
  EXPECT_FALSE(registry_.FindPieceTask(key, found, highest, last)) << "no piece yet";

  for (const auto& [number, size] : {std::pair{1u, 100u}, {3u, 300u}, {2u, 200u}, {2u, 999u}}) {
    EXPECT_TRUE(registry_.AddPiece(key, number, size));
  }
  ASSERT_TRUE(registry_.FindPieceTask(key, found, highest, last));
  EXPECT_EQ(highest, 3u);
  EXPECT_EQ(last, 0u);
  PartList parts;
  ASSERT_TRUE(registry_.GetAllPieces(key, parts));
  ASSERT_EQ(parts.size(), 3u);
  EXPECT_EQ(parts[2].part_size, 200u) << "a piece keeps its first size";

  // The last piece replaces its part's size and marks the task completing,
  // until a further piece comes.
  ASSERT_TRUE(registry_.SetLastPiece(key, 3, 30));
  ASSERT_TRUE(registry_.FindPieceTask(key, found, highest, last));
  EXPECT_EQ(last, 3u);
  ASSERT_TRUE(registry_.GetAllPieces(key, parts));
  EXPECT_EQ(parts[3].part_size, 30u);
  ASSERT_TRUE(registry_.AddPiece(key, 4, 40));
  ASSERT_TRUE(registry_.FindPieceTask(key, found, highest, last));
  EXPECT_EQ(last, 0u);
  EXPECT_TRUE(registry_.RemovePieceTask(key));
  EXPECT_FALSE(registry_.RemovePieceTask(key));
  EXPECT_TRUE(registry_.RemovePieceTask(key + "-longer"));
}

TEST(PartTaskRegistryConcurrencyTest, ManyThreadsShareOneRegistry) {
  constexpr int kThreads = 8;
  constexpr uint32_t kParts = 200;
  std::vector<CPartTaskRegistry*> seen(kThreads);
  std::vector<std::thread> threads;
  threads.reserve(kThreads);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&seen, t] {
      CPartTaskRegistry& registry = CPartTaskRegistry::GetInstance();
      seen[t] = &registry;
      const std::string id = TaskId("threads-" + std::to_string(t));
      for (uint32_t n = 1; n <= kParts; ++n) {
        registry.RegisterPart(id, Part(id, n, kParts));
      }
      std::thread worker([&registry, id] {
        for (uint32_t n = kParts; n >= 1; --n) registry.MarkPartDone(id, Part(id, n, kParts, true));
      });
      uint32_t failed = 0;
      int32_t percent = 0;
      while (!registry.QueryUpload(failed, percent, id)) std::this_thread::yield();
      worker.join();
      EXPECT_EQ(failed, 0u);
      const std::string key = "piece-test-thread-" + std::to_string(t);
      EXPECT_TRUE(registry.AddPieceTask(SPieceTask{id, "", key}));
      EXPECT_TRUE(registry.AddPiece(key, 1, 1));
      EXPECT_TRUE(registry.RemovePieceTask(key));
      registry.DropUpload(id);
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (CPartTaskRegistry* registry : seen) EXPECT_EQ(registry, seen[0]);
}

}  // namespace
}  // namespace CloudStorage
}  // namespace Orca
