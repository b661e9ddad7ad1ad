#pragma once

#include "platform/Catalogue.h"

// The HTTP client's own texts: default file names and the messages it raises or reports.
namespace net::NMConst {

inline constexpr const char *sHeadFile = "Head.txt";     // Header's initial value
inline constexpr const char *sBodyFile = "Default.htm";  // Body's initial value
inline constexpr const char *sSendFile = "Send.dat";     // SendData of Link and Unlink

// The texts of the errors it raises, for the user: patterns marked for the catalogue
// (platform::Tr and platform::Fill show them).
inline constexpr const char *sEmptyURL = platform::TrKey("Empty URL");
// TRANSLATORS: %1 is the port number of a URL.
inline constexpr const char *sInvalidPort = platform::TrKey("Invalid port %1");
// TRANSLATORS: %1 is the text that was read as a number.
inline constexpr const char *sNotAnInteger = platform::TrKey("'%1' is not a valid integer value");
inline constexpr const char *sTooManyRedirects = platform::TrKey("Too many redirects");
inline constexpr const char *sDowngradeRefused =
    // TRANSLATORS: %1 is the URL the server redirected to.
    platform::TrKey("Redirect from https to http refused: %1");
inline constexpr const char *sRequestTooLong =
    // TRANSLATORS: %1 is a number of characters.
    platform::TrKey("Request line too long (%1 characters)");
inline constexpr const char *sControlCharacterInURL =
    // TRANSLATORS: %1 names the character (CR, LF, TAB, DEL or its code, 0x01).
    platform::TrKey("URL refused: it contains a control character (%1)");
inline constexpr const char *sControlCharacterInRedirect =
    // TRANSLATORS: %1 names the character (CR, LF, TAB, DEL or its code, 0x01).
    platform::TrKey("Redirect refused: its target contains a control character (%1)");
inline constexpr const char *sControlCharacterInValidator =
    // TRANSLATORS: %1 names the character (CR, LF, TAB, DEL or its code, 0x01); If-Range is the
    // name of a header line.
    platform::TrKey("Request refused: its If-Range validator contains a control character (%1)");
inline constexpr const char *sRedirectSchemeRefused =
    // TRANSLATORS: %1 is the scheme of the redirect's target ("ftp").
    platform::TrKey("Redirect to a URL of the %1 scheme refused: only http and https are "
                    "followed");
inline constexpr const char *sResponseHeaderTooLong = platform::TrKey("Response header too long");
// A status for developers (a high detail level): not translated.
inline constexpr const char *sTransactionCompleted = "Transaction Completed";

// The two Accept lines every request carries.
inline constexpr const char *sAccept1 =
    "Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff";
inline constexpr const char *sAccept2 =
    "Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript";
inline constexpr const char *sContentType = "Content-type: application/x-www-form-urlencoded";

} // namespace net::NMConst
