// Large plain-HTTP request bodies, read straight from the connection.
//
// cpp-httplib 0.11 hands a request body over 4 KiB at a time, with a poll
// before every read: about half the time of a large upload. For a large
// body on a plain connection the library's content reader is stopped after
// its first piece, and the rest is read from the socket in large pieces.
// That is sound because the library's stream buffers only reads shorter than
// 4096 bytes: once it has handed over the first piece of a longer body, its
// buffer is empty. So this is done only with the version it was checked on.
#ifndef OCS_EMULATOR_HTTP_DIRECTBODY_H_
#define OCS_EMULATOR_HTTP_DIRECTBODY_H_

#include <httplib.h>

#include <cstdint>
#include <functional>

namespace ocs {

// The connection socket to read the rest of `req`'s body of `length` bytes
// from (after the library's first piece), or -1 when that cannot be done:
// a small body, TLS, a compressed body, or another library version.
int DirectBodySocket(const httplib::Request& req, uint64_t length);

// Reads `remaining` bytes from `fd` into `sink`. False when the connection
// ends, stalls for a minute, or the sink refuses; the connection is then
// shut down, since its stream position is lost.
bool ReadRestDirectly(int fd, uint64_t remaining,
                      const std::function<bool(const char*, size_t)>& sink);

}  // namespace ocs

#endif  // OCS_EMULATOR_HTTP_DIRECTBODY_H_
