#pragma once

#include "net/Streams.h"
#include "platform/Object.h"

#include <functional>
#include <optional>
#include <string>

namespace net {

using TNotifyEvent = std::function<void(platform::TObject *Sender)>;

enum UUMethods { uuMime = 0, uuCode = 1 };

// Encodes a stream as base64 (uuMime, RFC 2045 alphabet) or uuencode (uuCode) text lines of
// at most 45 input bytes each, every line ending in CR LF. No "begin"/"end" lines are written.
class TNMUUProcessor : public platform::TObject {
  public:
    // Encodes the whole of InputStream (from position 0) at OutputStream's position; with
    // uuCode a final "`" line follows. Afterwards OutputStream's position is 0 and OnEndEncode
    // has run, also when a stream error (EFileStreamError) passes through. Throws
    // std::invalid_argument, before anything else, when a stream is missing.
    void Encode();

    UUMethods Method = uuMime;
    TNotifyEvent OnBeginEncode, OnEndEncode;
    // Owned by the caller.
    TStream *InputStream = nullptr;
    TStream *OutputStream = nullptr;

  private:
    void EncodeLines(const char *table);
    void EndEncode();
};

// The base64 text of bytes as one line: no line breaks inside and none at the end.
std::string Base64Line(const std::string &bytes);
// The bytes of base64 text (the same alphabet, padding optional); nothing when it holds any
// other character or ends in a broken group.
std::optional<std::string> Base64Bytes(const std::string &text);

} // namespace net
