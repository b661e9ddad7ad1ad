// Which signature checks a signer pin accepts, and what a refusal shows.
#include "engine/SignerPin.h"

#include <gtest/gtest.h>

using platform::SignatureCheck;
using platform::SignatureState;
using engine::SignerMatches;
using engine::SignerMismatchText;

TEST(SignerPin, OnlyAValidSignatureByExactlyOneOfTheNamesIsAccepted) {
    const std::vector<std::string> pins = {"Talvex Vendor", "Talvex Vendor 2027"};
    EXPECT_TRUE(SignerMatches(pins, {SignatureState::Valid, "Talvex Vendor", ""}));
    EXPECT_TRUE(SignerMatches(pins, {SignatureState::Valid, "Talvex Vendor 2027", ""}));
    // Another name, one that only begins or differs in case like a pinned one, or none.
    for (const char *name : {"Other Vendor", "Talvex", "talvex vendor", "Talvex Vendor ", ""})
        EXPECT_FALSE(SignerMatches(pins, {SignatureState::Valid, name, ""})) << name;
    // The pinned name on a signature that is not valid.
    for (SignatureState state :
         {SignatureState::Unsigned, SignatureState::Tampered, SignatureState::Untrusted,
          SignatureState::Expired, SignatureState::Invalid, SignatureState::CannotCheck})
        EXPECT_FALSE(SignerMatches(pins, {state, "Talvex Vendor", "why"}));
    EXPECT_FALSE(SignerMatches({}, {SignatureState::Valid, "Talvex Vendor", ""}));
}

TEST(SignerPin, TheRefusalNamesTheExpectedAndTheFoundSignerWithTheReason) {
    const std::vector<std::string> pins = {"A Vendor", "B Vendor"};
    EXPECT_EQ(SignerMismatchText(pins, {SignatureState::Valid, "C Vendor", ""}),
              "Signer expected: A Vendor | B Vendor\r\nSigner of the file: C Vendor");
    EXPECT_EQ(SignerMismatchText({"A Vendor"},
                                 {SignatureState::Unsigned, "", "the file is not signed"}),
              "Signer expected: A Vendor\r\nSigner of the file: none (the file is not signed)");
    EXPECT_EQ(SignerMismatchText({"A Vendor"}, {SignatureState::Expired, "A Vendor",
                                                "its certificate has expired"}),
              "Signer expected: A Vendor\r\nSigner of the file: A Vendor (its certificate has "
              "expired)");
}
