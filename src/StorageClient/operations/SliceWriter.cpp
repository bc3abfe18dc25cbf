#include "operations/SliceWriter.h"

namespace Orca {
namespace CloudStorage {
namespace {

// How long one wait for the writer lasts before it looks again.
constexpr uint32_t kWaitStepMs = 1000;

}  // namespace

class CSliceWriter::CWriteTask : public Base::CTask {
 public:
  CWriteTask(CSliceWriter& writer, uint64_t offset, const char* data, uint32_t size)
      : writer_(writer), offset_(offset), data_(data), size_(size) {}

  bool Run() override {
    uint32_t done = 0;
    writer_.written_ = writer_.file_.WriteAt(offset_, data_, size_, done);
    return writer_.written_;
  }

 private:
  CSliceWriter& writer_;
  const uint64_t offset_;
  const char* const data_;
  const uint32_t size_;
};

CSliceWriter::CSliceWriter(File::CLocalFile& file) : file_(file) { pool_.Start(1, 1, 0); }

CSliceWriter::~CSliceWriter() { pool_.Stop(true); }

void CSliceWriter::Post(uint64_t offset, const char* data, uint32_t size) {
  finished_before_post_ = pool_.GetFinishedTaskCount();
  written_ = false;
  pending_ = pool_.PostTask(new CWriteTask(*this, offset, data, size));
  if (!pending_) {  // the pool takes no task: write here instead
    uint32_t done = 0;
    written_ = file_.WriteAt(offset, data, size, done);
  }
}

bool CSliceWriter::Wait() {
  if (!pending_) {
    return written_;
  }
  // The finished count moves under the pool's lock after the task ran, so
  // everything the task wrote is visible once the wait sees it move.
  while (!pool_.WaitForTaskDone(finished_before_post_, kWaitStepMs)) {
  }
  pending_ = false;
  return written_;
}

}  // namespace CloudStorage
}  // namespace Orca
