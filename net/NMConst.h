#pragma once

// The HTTP client's own texts: default file names and the messages it raises or reports.
namespace net::NMConst {

inline constexpr const char *sHeadFile = "Head.txt";     // Header's initial value
inline constexpr const char *sBodyFile = "Default.htm";  // Body's initial value
inline constexpr const char *sSendFile = "Send.dat";     // SendData of Link and Unlink

inline constexpr const char *sEmptyURL = "Empty URL";
inline constexpr const char *sInvalidPort = "Invalid port ";        // followed by the number
inline constexpr const char *sNotAnInteger = " is not a valid integer value"; // after 'text'
inline constexpr const char *sTooManyRedirects = "Too many redirects";
inline constexpr const char *sDowngradeRefused =
    "Redirect from https to http refused: "; // followed by the URL
inline constexpr const char *sRequestTooLong = "Request line too long";
// Followed by the character's name and ")".
inline constexpr const char *sControlCharacterInURL =
    "URL refused: it contains a control character (";
inline constexpr const char *sControlCharacterInRedirect =
    "Redirect refused: its target contains a control character (";
inline constexpr const char *sControlCharacterInValidator =
    "Request refused: its If-Range validator contains a control character (";
// Around the scheme of a redirect's target.
inline constexpr const char *sRedirectSchemeRefused1 = "Redirect to a URL of the ";
inline constexpr const char *sRedirectSchemeRefused2 =
    " scheme refused: only http and https are followed";
inline constexpr const char *sResponseHeaderTooLong = "Response header too long";
inline constexpr const char *sTransactionCompleted = "Transaction Completed";

// The two Accept lines every request carries.
inline constexpr const char *sAccept1 =
    "Accept: www/source, text/html, video/mpeg, image/jpeg, image/x-tiff";
inline constexpr const char *sAccept2 =
    "Accept: image/x-rgb, image/x-xbm, image/gif, */*, application/postscript";
inline constexpr const char *sContentType = "Content-type: application/x-www-form-urlencoded";

} // namespace net::NMConst
