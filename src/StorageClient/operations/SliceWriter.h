// Writes the slices of a ranged download on a thread of its own, one at a
// time, so that the next range travels while the last one goes to disk.
//
//   CSliceWriter writer(file);
//   writer.Post(offset, data, size);  // `data` stays valid until Wait
//   ... fetch the next range ...
//   if (!writer.Wait()) ... file.LastError() tells why ...
//
// Only one slice is in flight: Post after Wait. The file is not to be
// touched by the caller between Post and Wait.
#ifndef ORCA_CS_SLICEWRITER_H_
#define ORCA_CS_SLICEWRITER_H_

#include <cstdint>

#include "base/ThreadPool.h"
#include "file/LocalFile.h"

namespace Orca {
namespace CloudStorage {

class CSliceWriter {
 public:
  // When no thread can be started, Post writes on the caller's thread.
  explicit CSliceWriter(File::CLocalFile& file);
  ~CSliceWriter();
  CSliceWriter(const CSliceWriter&) = delete;
  CSliceWriter& operator=(const CSliceWriter&) = delete;

  // Writes `size` bytes at `offset` in the background.
  void Post(uint64_t offset, const char* data, uint32_t size);
  // Waits for the slice posted last; false when its write failed or wrote
  // fewer bytes. True when nothing was posted yet.
  bool Wait();

 private:
  class CWriteTask;

  File::CLocalFile& file_;
  Base::CMessageLoopDyThreadPool pool_;
  uint64_t finished_before_post_ = 0;
  bool pending_ = false;  // a task is in flight
  bool written_ = true;   // outcome of the last slice; set by the task
};

}  // namespace CloudStorage
}  // namespace Orca

#endif  // ORCA_CS_SLICEWRITER_H_
