#pragma once

#include "platform/Signature.h"

#include <string>
#include <vector>

namespace engine {

// Whether `check` found a valid signature by a certificate whose subject's common name is
// exactly one of `signers`.
bool SignerMatches(const std::vector<std::string> &signers, const platform::SignatureCheck &check);

// What a refused signer shows: "Signer expected: A | B", then "Signer of the file: C", with
// the reason when the signature itself is not valid ("none (the file is not signed)").
std::string SignerMismatchText(const std::vector<std::string> &signers,
                               const platform::SignatureCheck &check);

} // namespace engine
