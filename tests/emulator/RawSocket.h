// One HTTP exchange over a bare TCP socket, to see what a fault does on the
// wire: resets, short bodies, missing lengths.
#ifndef ORCA_TESTS_EMULATOR_RAWSOCKET_H_
#define ORCA_TESTS_EMULATOR_RAWSOCKET_H_

#include <string>

namespace orca_test {

struct WireAnswer {
  std::string head;  // status line and header fields, without the blank line
  std::string body;  // every byte after the head, as received (chunked stays encoded)
  int error = 0;     // errno of a failed read (ECONNRESET for a reset), 0 at a clean end

  int status() const;
  // The value of header field `name` (case-insensitive); `found` tells apart
  // an absent field and an empty one.
  std::string Header(const std::string& name, bool* found = nullptr) const;
};

// Sends `request` to 127.0.0.1:`port` and reads until the answer is complete
// (as its Content-Length says), the peer ends the connection, or 30 seconds
// pass.
WireAnswer ExchangeOnWire(int port, const std::string& request);

// Sends the head and the first `sent` bytes of a body announced as
// `announced` bytes, then closes the connection.
void AbandonUpload(int port, const std::string& head_without_length, size_t announced, size_t sent);

}  // namespace orca_test

#endif  // ORCA_TESTS_EMULATOR_RAWSOCKET_H_
