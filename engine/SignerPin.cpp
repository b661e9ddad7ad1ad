#include "engine/SignerPin.h"

#include "platform/Catalogue.h"

#include <algorithm>

namespace engine {

bool SignerMatches(const std::vector<std::string> &signers, const platform::SignatureCheck &check) {
    return check.state == platform::SignatureState::Valid && !check.signer.empty() &&
           std::find(signers.begin(), signers.end(), check.signer) != signers.end();
}

std::string SignerMismatchText(const std::vector<std::string> &signers,
                               const platform::SignatureCheck &check) {
    std::string expected;
    for (size_t i = 0; i < signers.size(); ++i)
        expected += (i ? " | " : "") + signers[i];
    // TRANSLATORS: %1 is the subject names of the certificates allowed, separated by " | ".
    std::string text = platform::Fill(platform::Tr("Signer expected: %1"), {expected}) + "\r\n";
    const bool valid = check.state == platform::SignatureState::Valid;
    if (check.signer.empty())
        return text + (valid ? std::string(platform::Tr("Signer of the file: none"))
                             // TRANSLATORS: %1 says why the file has no valid signature.
                             : platform::Fill(platform::Tr("Signer of the file: none (%1)"),
                                              {check.reason}));
    if (valid)
        // TRANSLATORS: %1 is the subject name of the certificate that signed the file.
        return text + platform::Fill(platform::Tr("Signer of the file: %1"), {check.signer});
    // TRANSLATORS: %1 is the subject name of the certificate that signed the file, %2 why the
    // signature is not valid.
    return text + platform::Fill(platform::Tr("Signer of the file: %1 (%2)"),
                                 {check.signer, check.reason});
}

} // namespace engine
