#pragma once

#include "platform/Object.h"

#include <functional>
#include <string>

namespace net {

// Decodes URL-encoded text: "+" is a space and "%XY" the byte of hexadecimal value XY.
class TNMURL : public platform::TObject {
  public:
    using TOnErrorEvent = std::function<void(
        platform::TObject *Sender, const std::string &Operation, const std::string &ErrMsg)>;

    // The decoded form of InputString. A "%" not followed by two hexadecimal digits stops the
    // decoding: OnError gets "Error during decode" and "'XY' is not a valid integer value"
    // (XY being the characters after the "%", at most two), and InputString is returned
    // unchanged. Decode itself throws nothing; an exception from OnError passes through.
    std::string Decode();

    std::string InputString;
    TOnErrorEvent OnError;
};

} // namespace net
