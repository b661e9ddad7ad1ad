#include "engine/SignerPin.h"

#include <algorithm>

namespace engine {

bool SignerMatches(const std::vector<std::string> &signers, const platform::SignatureCheck &check) {
    return check.state == platform::SignatureState::Valid && !check.signer.empty() &&
           std::find(signers.begin(), signers.end(), check.signer) != signers.end();
}

std::string SignerMismatchText(const std::vector<std::string> &signers,
                               const platform::SignatureCheck &check) {
    std::string text = "Signer expected: ";
    for (size_t i = 0; i < signers.size(); ++i)
        text += (i ? " | " : "") + signers[i];
    text += "\r\nSigner of the file: " + (check.signer.empty() ? "none" : check.signer);
    if (check.state != platform::SignatureState::Valid)
        text += " (" + check.reason + ")";
    return text;
}

} // namespace engine
