// Checks on text that goes into a request line or a header field. Request
// targets are sent byte for byte as they are signed, so a byte that cannot
// stand there must be refused before anything is sent.
#ifndef ORCA_CS_REQUESTTEXT_H_
#define ORCA_CS_REQUESTTEXT_H_

#include <cstddef>
#include <string>

#include "protocol/Status.h"

namespace Orca {
namespace CloudStorage {

// The offset of the first byte of `text` that cannot stand in a request
// target (a control byte, CR, LF and TAB included, a space or DEL), or npos.
// Bytes from 0x80 (UTF-8) may stand there.
size_t FindTargetUnsafeByte(const std::string& text);

// The same for a node location ("host:port"), which must not hold "/", "?",
// "#", "@" or "\\" either: they would move the request elsewhere.
size_t FindAuthorityUnsafeByte(const std::string& text);

// The offset of the first byte of `text` outside printable ASCII (0x20 to
// 0x7E), or npos.
size_t FindNonPrintableByte(const std::string& text);

// "<what>[<text>] holds byte 0x0a at offset 5", with every byte of `text`
// outside printable ASCII shown as \xNN.
std::string DescribeUnsafeByte(const char* what, const std::string& text, size_t offset);

// Code 2 naming the byte when `text` (a caller's key or object URL, `what`)
// cannot stand in a request target; success otherwise.
Status CheckTargetText(const char* what, const std::string& text);

}  // namespace CloudStorage
}  // namespace Orca

#endif  // ORCA_CS_REQUESTTEXT_H_
