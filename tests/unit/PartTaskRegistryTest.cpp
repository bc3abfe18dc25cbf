#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "StorageClient/PartTaskRegistry.h"

namespace Orca {
namespace CloudStorage {
namespace {

// Each test uses task ids of its own: the registry is process-wide.
std::string TaskId(const char* name) { return std::string("registry-test-") + name; }

SPartTaskInfo Part(const std::string& task_id, uint32_t number, uint32_t count) {
  SPartTaskInfo info;
  info.task_id = task_id;
  info.part_number = number;
  info.part_count = count;
  return info;
}

SPartTaskInfo Done(SPartTaskInfo info, uint32_t failed = 0) {
  info.finished = true;
  info.failed = failed;
  return info;
}

TEST(PartTaskRegistryTest, UnknownUploadAnswersFalseAndWritesNothing) {
  uint32_t failed = 77;
  int32_t percent = 88;
  EXPECT_FALSE(CPartTaskRegistry::GetInstance().QueryUpload(failed, percent, TaskId("none")));
  EXPECT_EQ(failed, 77u);
  EXPECT_EQ(percent, 88);
}

TEST(PartTaskRegistryTest, FailureSeenOnlyOnceEarlierPartsFinished) {
  CPartTaskRegistry& registry = CPartTaskRegistry::GetInstance();
  const std::string id = TaskId("failure-order");
  ASSERT_TRUE(registry.RegisterPart(id, Part(id, 1, 2)));
  ASSERT_TRUE(registry.RegisterPart(id, Part(id, 2, 2)));
  ASSERT_TRUE(registry.MarkPartDone(id, Done(Part(id, 2, 2), 1)));

  uint32_t failed = 0;
  int32_t percent = -1;
  EXPECT_FALSE(registry.QueryUpload(failed, percent, id));
  EXPECT_EQ(failed, 0u);
  EXPECT_EQ(percent, 50);

  ASSERT_TRUE(registry.MarkPartDone(id, Done(Part(id, 1, 2))));
  EXPECT_TRUE(registry.QueryUpload(failed, percent, id));
  EXPECT_EQ(failed, 1u);
  EXPECT_EQ(percent, 100);
  // The part entry is gone: the next query waits for new parts.
  EXPECT_FALSE(registry.QueryUpload(failed, percent, id));
  registry.DropUpload(id);
}

TEST(PartTaskRegistryTest, PercentageUsesTheFirstRecordsPartCount) {
  CPartTaskRegistry& registry = CPartTaskRegistry::GetInstance();
  struct Case {
    uint32_t part_count;
    uint32_t finished;
    int32_t percent;
  };
  for (const Case& c : {Case{4, 3, 75}, Case{3, 1, 33}, Case{6, 6, 100}}) {
    const std::string id = TaskId("percent-") + std::to_string(c.part_count);
    for (uint32_t n = 1; n <= c.part_count; ++n) {
      // Later records claim another part count; only the first one counts.
      registry.RegisterPart(id, Part(id, n, n == 1 ? c.part_count : 99));
    }
    for (uint32_t n = 1; n <= c.finished; ++n) {
      registry.MarkPartDone(id, Done(Part(id, n, c.part_count)));
    }
    uint32_t failed = 0;
    int32_t percent = -1;
    EXPECT_EQ(registry.QueryUpload(failed, percent, id), c.finished == c.part_count);
    EXPECT_EQ(percent, c.percent);
    registry.DropUpload(id);
  }
}

TEST(PartTaskRegistryTest, DuplicatePartNumberKeepsTheFirstRecord) {
  CPartTaskRegistry& registry = CPartTaskRegistry::GetInstance();
  const std::string id = TaskId("duplicate");
  registry.RegisterPart(id, Part(id, 1, 1));
  registry.RegisterPart(id, Done(Part(id, 1, 1)));  // would read as finished if it replaced
  uint32_t failed = 0;
  int32_t percent = 0;
  EXPECT_FALSE(registry.QueryUpload(failed, percent, id));
  registry.DropUpload(id);
}

TEST(PartTaskRegistryTest, MarkPartDoneAfterRemovalChangesNothing) {
  CPartTaskRegistry& registry = CPartTaskRegistry::GetInstance();
  const std::string id = TaskId("after-removal");
  registry.RegisterPart(id, Part(id, 1, 2));
  registry.MarkPartDone(id, Done(Part(id, 1, 2)));
  uint32_t failed = 0;
  int32_t percent = 0;
  ASSERT_TRUE(registry.QueryUpload(failed, percent, id));  // removes the part entry
  EXPECT_EQ(percent, 50);
  EXPECT_FALSE(registry.MarkPartDone(id, Done(Part(id, 2, 2))));
  EXPECT_FALSE(registry.MarkPartDone(id, Done(Part(id, 1, 2))));
  // Not even the finished count moved.
  registry.RegisterPart(id, Part(id, 3, 2));
  EXPECT_FALSE(registry.QueryUpload(failed, percent, id));
  EXPECT_EQ(percent, 50);
  registry.DropUpload(id);
  EXPECT_FALSE(registry.MarkPartDone(id, Done(Part(id, 3, 2))));
}

TEST(PartTaskRegistryTest, MarkPartDoneForUnregisteredPartNumber) {
  CPartTaskRegistry& registry = CPartTaskRegistry::GetInstance();
  const std::string id = TaskId("unregistered-part");
  registry.RegisterPart(id, Part(id, 1, 2));
  EXPECT_FALSE(registry.MarkPartDone(id, Done(Part(id, 2, 2))));
  registry.DropUpload(id);
}

TEST(PieceTaskTableTest, Lifecycle) {
  CPartTaskRegistry& registry = CPartTaskRegistry::GetInstance();
  const std::string key = "piece-test-lifecycle.pfile";
  SPieceTask found;
  uint32_t highest = 0;

  EXPECT_FALSE(registry.AddPiece(key, 1, 10));
  ASSERT_TRUE(registry.AddPieceTask(SPieceTask{"task-1", "10.0.0.2:6001", key}));
  EXPECT_FALSE(registry.AddPieceTask(SPieceTask{"task-2", "elsewhere", key}));
  EXPECT_FALSE(registry.FindPieceTask(key, found, highest)) << "no piece yet";

  EXPECT_TRUE(registry.AddPiece(key, 1, 100));
  EXPECT_TRUE(registry.AddPiece(key, 3, 300));
  EXPECT_TRUE(registry.AddPiece(key, 2, 200));
  EXPECT_TRUE(registry.AddPiece(key, 2, 999));  // keeps its first size
  ASSERT_TRUE(registry.FindPieceTask(key, found, highest));
  EXPECT_EQ(found.task_id, "task-1");
  EXPECT_EQ(found.location, "10.0.0.2:6001");
  EXPECT_EQ(highest, 3u);

  PartList parts;
  ASSERT_TRUE(registry.GetAllPieces(key, parts));
  ASSERT_EQ(parts.size(), 3u);
  EXPECT_EQ(parts[1].part_size, 100u);
  EXPECT_EQ(parts[2].part_size, 200u);
  EXPECT_EQ(parts[3].part_size, 300u);
  EXPECT_EQ(parts[3].etag, "");

  EXPECT_TRUE(registry.RemovePieceTask(key));
  EXPECT_FALSE(registry.RemovePieceTask(key));
  EXPECT_FALSE(registry.GetAllPieces(key, parts));
}

TEST(PieceTaskTableTest, KeysCompareAsWholeStrings) {
  CPartTaskRegistry& registry = CPartTaskRegistry::GetInstance();
  ASSERT_TRUE(registry.AddPieceTask(SPieceTask{"a", "", "piece-test-prefix"}));
  ASSERT_TRUE(registry.AddPieceTask(SPieceTask{"b", "", "piece-test-prefix-longer"}));
  registry.AddPiece("piece-test-prefix-longer", 1, 1);
  SPieceTask found;
  uint32_t highest = 0;
  EXPECT_FALSE(registry.FindPieceTask("piece-test-prefix", found, highest));
  ASSERT_TRUE(registry.FindPieceTask("piece-test-prefix-longer", found, highest));
  EXPECT_EQ(found.task_id, "b");
  registry.RemovePieceTask("piece-test-prefix");
  registry.RemovePieceTask("piece-test-prefix-longer");
}

constexpr int kThreads = 8;
constexpr uint32_t kParts = 200;

TEST(PartTaskRegistryConcurrencyTest, ManyThreadsShareOneRegistry) {
  std::vector<CPartTaskRegistry*> seen(kThreads);
  std::atomic<int> completed{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      CPartTaskRegistry& registry = CPartTaskRegistry::GetInstance();
      seen[t] = &registry;
      const std::string id = TaskId("threads-") + std::to_string(t);
      for (uint32_t n = 1; n <= kParts; ++n) {
        registry.RegisterPart(id, Part(id, n, kParts));
      }
      std::thread worker([&registry, id] {
        for (uint32_t n = kParts; n >= 1; --n) {
          registry.MarkPartDone(id, Done(Part(id, n, kParts)));
        }
      });
      uint32_t failed = 0;
      int32_t percent = 0;
      while (!registry.QueryUpload(failed, percent, id)) {
        std::this_thread::yield();
      }
      worker.join();
      EXPECT_EQ(failed, 0u);
      const std::string key = "piece-test-thread-" + std::to_string(t);
      EXPECT_TRUE(registry.AddPieceTask(SPieceTask{id, "", key}));
      EXPECT_TRUE(registry.AddPiece(key, 1, 1));
      EXPECT_TRUE(registry.RemovePieceTask(key));
      registry.DropUpload(id);
      ++completed;
    });
  }
  for (std::thread& thread : threads) {
    thread.join();
  }
  EXPECT_EQ(completed.load(), kThreads);
  for (CPartTaskRegistry* registry : seen) {
    EXPECT_EQ(registry, seen[0]);
  }
}

}  // namespace
}  // namespace CloudStorage
}  // namespace Orca
