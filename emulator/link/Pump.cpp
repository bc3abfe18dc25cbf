#include "emulator/link/Pump.h"

#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <cerrno>

namespace ocs {
namespace {

constexpr size_t kReadSize = 64 << 10;
// Counted per chunk besides its bytes, so that a flood of tiny writes
// cannot make the queue's memory outgrow its bound.
constexpr size_t kChunkCost = 128;

bool WouldBlock(int error) { return error == EAGAIN || error == EWOULDBLOCK || error == EINTR; }

}  // namespace

bool Pump::WantsRead() const {
  return !abandoned_ && end_ == StreamEnd::kNone && buffered_ < kMaxBuffered;
}

bool Pump::WantsWrite(LinkTime now) const {
  LinkTime free_at;
  return !queue_.empty() && queue_.front().due <= now && pacer_.Allowance(now, &free_at) > 0;
}

LinkTime Pump::NextTimer(LinkTime now) const {
  if (!queue_.empty() && queue_.front().due > now) {
    return queue_.front().due;
  }
  if (!queue_.empty()) {
    LinkTime free_at;
    return pacer_.Allowance(now, &free_at) > 0 ? LinkTime::max() : free_at;
  }
  // Also when already due: it may have fallen due since the last TakeEnd.
  const bool end_waits = end_ != StreamEnd::kNone && !ended();
  return end_waits ? end_due_ : LinkTime::max();
}

void Pump::ReadFrom(int fd, LinkTime due) {
  std::array<char, kReadSize> buffer;
  const size_t room = std::min(buffer.size(), kMaxBuffered - buffered_);
  const ssize_t n = ::recv(fd, buffer.data(), room, 0);
  if (n > 0) {
    queue_.push_back(Chunk{due, std::string(buffer.data(), static_cast<size_t>(n))});
    buffered_ += static_cast<size_t>(n) + kChunkCost;
    return;
  }
  if (n < 0 && WouldBlock(errno)) {
    return;
  }
  end_ = n == 0 && !source_reset_ ? StreamEnd::kFin : StreamEnd::kReset;
  end_due_ = due;
}

bool Pump::WriteTo(int fd, LinkTime now) {
  while (!queue_.empty() && queue_.front().due <= now) {
    Chunk& chunk = queue_.front();
    LinkTime free_at;
    const size_t length =
        std::min(pacer_.Allowance(now, &free_at), chunk.bytes.size() - chunk.sent);
    if (length == 0) {
      return true;  // the link is busy
    }
    const ssize_t n = ::send(fd, chunk.bytes.data() + chunk.sent, length, MSG_NOSIGNAL);
    if (n < 0) {
      return WouldBlock(errno);
    }
    pacer_.Charge(static_cast<size_t>(n), now);
    chunk.sent += static_cast<size_t>(n);
    if (chunk.sent == chunk.bytes.size()) {
      Pop();
    }
    if (static_cast<size_t>(n) < length) {
      return true;  // the sink is full
    }
  }
  return true;
}

void Pump::Pop() {
  buffered_ -= queue_.front().bytes.size() + kChunkCost;
  queue_.pop_front();
}

StreamEnd Pump::TakeEnd(LinkTime now) {
  if (end_ == StreamEnd::kNone || ended() || !queue_.empty() || end_due_ > now) {
    return StreamEnd::kNone;
  }
  end_taken_ = true;
  return end_;
}

void Pump::MarkSourceReset() {
  source_reset_ = true;
  if (end_ == StreamEnd::kFin) {
    end_ = StreamEnd::kReset;
  }
}

void Pump::Abandon() {
  abandoned_ = true;
  queue_.clear();
  buffered_ = 0;
}

}  // namespace ocs
