// One direction of a relayed connection.
#ifndef OCS_EMULATOR_LINK_PUMP_H_
#define OCS_EMULATOR_LINK_PUMP_H_

#include <cstddef>
#include <deque>
#include <string>

#include "emulator/link/Pacer.h"

namespace ocs {

// How a byte stream ended: an orderly FIN, or a reset.
enum class StreamEnd { kNone, kFin, kReset };

// Moves the bytes read from a source socket to a sink socket. Each read is
// stamped with its delivery time and waits in a queue until then; due bytes
// go out as fast as the direction's shared pacer allows. The source's end
// (FIN or RST) is stamped likewise and passed on after the last byte. The
// queue holds at most kMaxBuffered bytes; the source is not read while it is
// full, so the sender's own socket buffers fill and it slows down.
class Pump {
 public:
  static constexpr size_t kMaxBuffered = 8 << 20;

  explicit Pump(Pacer& pacer) : pacer_(pacer) {}

  // The source is open and there is room for more.
  bool WantsRead() const;
  // A due byte waits and the pacer lets it go now.
  bool WantsWrite(LinkTime now) const;
  // When the pump next has work that no socket event announces (a byte or
  // the end falling due, the link freeing up), possibly already past;
  // LinkTime::max() for none.
  LinkTime NextTimer(LinkTime now) const;

  // Reads once from `fd`; what it gets (bytes or the end) is due at `due`.
  void ReadFrom(int fd, LinkTime due);
  // Writes the due bytes to `fd` while the pacer allows and `fd` takes
  // them; false when the sink has failed (its peer reset the connection).
  bool WriteTo(int fd, LinkTime now);
  // The source's end, once it is due and every byte before it has gone;
  // each end is returned once, kNone otherwise.
  StreamEnd TakeEnd(LinkTime now);

  // The source is known to have been reset (a write to it failed): its end
  // is a reset even if reading it reports an orderly end.
  void MarkSourceReset();
  // The sink is gone: what waits is dropped and nothing more is moved.
  void Abandon();
  // Nothing more will pass: the end went on, or the pump was abandoned.
  bool ended() const { return abandoned_ || end_taken_; }

 private:
  struct Chunk {
    LinkTime due;
    std::string bytes;
    size_t sent = 0;
  };

  void Pop();

  Pacer& pacer_;
  std::deque<Chunk> queue_;
  size_t buffered_ = 0;  // bytes in queue_ plus a bookkeeping cost per chunk
  StreamEnd end_ = StreamEnd::kNone;
  LinkTime end_due_;
  bool end_taken_ = false;
  bool source_reset_ = false;
  bool abandoned_ = false;
};

}  // namespace ocs

#endif  // OCS_EMULATOR_LINK_PUMP_H_
