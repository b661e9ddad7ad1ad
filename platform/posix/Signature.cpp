#include "platform/Signature.h"

namespace platform {

bool CanCheckSignatures() {
    return false;
}

SignatureCheck CheckSignature(const TPositionalFile &) {
    return {SignatureState::CannotCheck, "", "signatures are checked by the Windows program only"};
}

} // namespace platform
