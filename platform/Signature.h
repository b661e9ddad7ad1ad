#pragma once

#include "platform/PositionalFile.h"

#include <string>

namespace platform {

// What the check of a program file's signature found.
enum class SignatureState {
    Valid,       // signed, unchanged since, by a certificate that leads to a trusted root
    Unsigned,    // it carries no signature
    Tampered,    // its bytes are not those that were signed
    Untrusted,   // the signer's certificate leads to no trusted root (a self-signed one too)
    Expired,     // the signer's certificate (or one above it) has expired
    Invalid,     // another reason not to trust the signature
    CannotCheck, // this system cannot check signatures, or the check itself failed
};

struct SignatureCheck {
    SignatureState state = SignatureState::CannotCheck;
    // The common name of the signing certificate's subject; "" when there is none or it is
    // not known.
    std::string signer;
    // Why the signature is not valid, for people ("its certificate has expired"); "" when it
    // is.
    std::string reason;
};

// Whether this system checks program files' signatures (Windows' Authenticode). Elsewhere a
// signer cannot be pinned.
bool CanCheckSignatures();

// Checks the Authenticode signature of the open file `file` through its own handle, so that
// what is checked is the held file, whatever its name leads to meanwhile. Nothing is fetched
// from the network for the check: revocation lists are not asked for.
SignatureCheck CheckSignature(const TPositionalFile &file);

} // namespace platform
