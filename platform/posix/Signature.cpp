#include "platform/Signature.h"

#include "platform/Catalogue.h"

namespace platform {

bool CanCheckSignatures() {
    return false;
}

SignatureCheck CheckSignature(const TPositionalFile &) {
    return {SignatureState::CannotCheck, "",
            Tr("signatures are checked by the Windows program only")};
}

} // namespace platform
