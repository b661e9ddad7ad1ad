#pragma once

namespace platform {

// Common base of the components: event handlers receive one as their Sender.
class TObject {
  public:
    virtual ~TObject() = default;
};

} // namespace platform
