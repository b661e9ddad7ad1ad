#pragma once

#include "net/ResponseHead.h"

#include <string>

namespace engine {

// The content codings that an answer's Content-Encoding lines name other than "identity", in
// their order: "gzip", "br, gzip". Empty when the answer's bytes are the file's as they are.
std::string ContentCodings(const net::ResponseHead &head);

// What makes an answer's body other than the file's own bytes, for people: its content codings
// ("Content-Encoding: gzip"), or a Transfer-Encoding line of any value ("Transfer-Encoding:
// chunked"; this client decodes no coding, and the socket layer then reads the body to the
// close). Empty when the body is the bytes themselves.
std::string BodyCoding(const net::ResponseHead &head);

} // namespace engine
