#include "app/CommandLine.h"
#include "platform/ProcessInfo.h"
#include "platform/Signature.h"

#include "app/IntegerText.h"
#include "net/NMHttp.h"
#include "platform/Catalogue.h"
#include "platform/Url.h"

#include <cctype>
#include <cstdint>

namespace {

using platform::Fill;
using platform::Tr;

// The longest signer pin and program name taken.
constexpr std::size_t kMaximumPart = 1000;

std::string UpperCase(std::string text) {
    for (char &c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// The location entry of a URL's authority without user information: the host as the URL writes
// it (an IPv6 literal in brackets) and ":port" when one is written; an empty port, the scheme's
// own, is left out. Returns the error noted, or "".
std::string ReadHost(const std::string &hostPort, MirrorEntry &primary) {
    const platform::HostPort split = platform::SplitHostPort(hostPort);
    if (split.host.empty())
        return std::string(Tr("Host is missing")) + "\n\r";
    if (const std::string error = platform::HostError(split.host); !error.empty())
        return error + "\n\r";
    primary.Host = split.port.empty() ? split.host : hostPort;
    return "";
}

// Splits the URL into protocol, entry 0 and file name; returns the error noted, or "". A URL
// is taken whole or refused: nothing of it is cut.
std::string ReadUrl(const std::string &url, DownloadRequest &request) {
    // A CR or LF would end the request line early and add header lines of its own.
    if (const std::string control = platform::ControlCharacterIn(url); !control.empty())
        return Fill(Tr("URL contains a control character (%1)"), {control}) + "\n\r";
    const platform::UrlParts parts = platform::SplitUrl(url);
    if (parts.scheme.empty())
        return std::string(Tr("Protocol is missing")) + "\n\r";
    // Longer than a request line can carry, the URL would be cut, or refused by the server.
    if (const std::size_t line = net::TNMHTTP::LongestRequestLine(url);
        line > net::TNMHTTP::kMaxRequestLine)
        return Fill(Tr("URL is too long: its request line would have %1 characters, and at "
                       "most %2 can be sent"),
                    {std::to_string(line), std::to_string(net::TNMHTTP::kMaxRequestLine)}) +
               "\n\r";
    request.Protocol = parts.scheme;
    // The path, query and fragment as written: the file name keeps its query and fragment.
    std::string rest = url.substr(parts.scheme.size() + 3);

    std::size_t slash = rest.find('/');
    if (slash == std::string::npos)
        return std::string(Tr("File name is missing")) + "\n\r";
    MirrorEntry &primary = request.MirrorTable[0];
    // The user name and password are not sent (nothing here answers a server's question for
    // credentials), and so never become part of a status text, a caption or a proxy rule.
    const std::string authority = rest.substr(0, slash);
    // A "?" or "#" ends the host for the client ("http://good.example?@other/f" asks
    // good.example): such a URL would be shown as one host and asked of another.
    if (authority.find_first_of("?#") != std::string::npos)
        return std::string(Tr("Host name must not contain \"?\" or \"#\"")) + "\n\r";
    const std::string hostPort = platform::WithoutUserInfo(authority);
    request.UserInfoLeftOut = hostPort.size() != authority.size();
    if (const std::string error = ReadHost(hostPort, primary); !error.empty())
        return error;
    std::string path = rest.substr(slash + 1);

    // The directory ends at the last "/" before a query or fragment: a "/" inside
    // "?redirect=a/b" belongs to the file name's query, not to the path.
    std::size_t query = path.find_first_of("?#");
    int last = LastPos("/", std::string_view(path).substr(0, query));
    if (last > 0) {
        primary.Directory = path.substr(0, static_cast<std::size_t>(last) - 1);
        request.FileName = path.substr(static_cast<std::size_t>(last));
    } else {
        request.FileName = path;
    }

    return FileNameError(request.FileName);
}

// Stores one integer parameter; returns `error` (its English key) translated when the value is
// not wholly an integer.
std::string ReadIntegerParameter(const std::string &value, int32_t &field, const char *error) {
    IntegerRead read = ReadInteger(value, IntegerSyntax::Parameter);
    field = read.value;
    return read.valid ? "" : std::string(Tr(error)) + "\n\r";
}

std::string ReadParameter(const std::string &argument, std::size_t index,
                          DownloadRequest &request, CommandLineResult &result) {
    std::size_t colon = argument.find(':');
    std::string name = argument.substr(0, colon);
    std::string value = colon == std::string::npos ? "" : argument.substr(colon + 1);
    std::string key = UpperCase(name);

    if (IsOptionKeyword(key))
        result.optionParameters.push_back(OptionParameter{key, value, index});
    else if (key == "PRODUCTNAME")
        request.ProductName = value;
    else if (key == "USERAGENT")
        request.UserAgent = value;
    else if (key == "MINIMUMOSVERSIONDESCRIPTION")
        request.MinimumOSVersionDescription = value;
    else if (key == "OSPLATFORMID")
        return ReadIntegerParameter(
            value, request.OSPlatformId,
            platform::TrKey("Invalid operating system platform identifier. Must be an integer."));
    else if (key == "MINIMUMOSAMAJORVERSION")
        return ReadIntegerParameter(
            value, request.MinimumOSMajorVersion,
            platform::TrKey("Invalid operating system minimum major version. Must be an integer."));
    else if (key == "MINIMUMOSMINORVERSION")
        return ReadIntegerParameter(
            value, request.MinimumOSMinorVersion,
            platform::TrKey("Invalid operating system minimum minor version. Must be an integer."));
    else if (key == "SHA256") {
        request.Sha256 = ReadDigest(value);
        if (request.Sha256.empty()) {
            result.pinError =
                std::string(Tr("Invalid SHA-256 digest. Must be 64 hexadecimal digits.")) + "\n\r";
            return result.pinError;
        }
    } else if (key == "SIGNER") {
        request.Signers = ReadSigners(value);
        std::string error;
        if (request.Signers.empty())
            error = std::string(Tr("Invalid signer. Must be one or more subject names "
                                   "separated by \"|\".")) +
                    "\n\r";
        else if (!platform::CanCheckSignatures())
            error = std::string(Tr("A signer cannot be checked on this system: signatures are "
                                   "checked by the Windows program only.")) +
                    "\n\r";
        if (!error.empty())
            result.pinError = error;
        return error;
    } else if (key == "MAXIMUMDETAILTODISPLAY")
        return ReadIntegerParameter(
            value, request.MaximumDetailToDisplay,
            platform::TrKey("Invalid maximum detail to display parameter. Must be an integer."));
    else if (key == "LANGUAGE")
        ; // chosen before the command line is read (RequestedLanguage)
    else
        return Fill(Tr("Unknown parameter name %1."), {name}) + "\n\r";
    return "";
}

} // namespace

std::string FileNameError(const std::string &fileName) {
    // A name that is only a query, or that names a directory, cannot be written as a file.
    std::string local = LocalFileName(fileName);
    if (local.empty() || local == "." || local == "..")
        return std::string(Tr("File name is missing")) + "\n\r";
    if (!IsPlainFileName(local))
        return std::string(Tr("File name must not contain a path separator")) + "\n\r";
    return "";
}

std::string ReadDigest(const std::string &value) {
    if (value.size() != 64)
        return "";
    std::string digest = value;
    for (char &c : digest) {
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return "";
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return digest;
}

std::vector<std::string> ReadSigners(std::string_view value) {
    std::vector<std::string> names;
    if (value.size() > kMaximumPart)
        return {};
    for (;;) {
        const std::size_t bar = value.find('|');
        std::string_view name = value.substr(0, bar);
        while (!name.empty() && name.front() == ' ')
            name.remove_prefix(1);
        while (!name.empty() && name.back() == ' ')
            name.remove_suffix(1);
        if (name.empty())
            return {};
        for (char c : name)
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
                return {};
        names.emplace_back(name);
        if (bar == std::string_view::npos)
            return names;
        value.remove_prefix(bar + 1);
    }
}

bool IsOptionKeyword(std::string_view key) {
    for (std::string_view keyword :
         {"OUTPUTDIRECTORY", "OVERRIDEFILE", "COMPLETIONCLOSE", "COMPLETIONOPENFOLDER",
          "COMPLETIONLAUNCHAPPLICATION", "DELETEAFTERDOWNLOADING", "MAXIMUMNUMBEROFATTEMPTS",
          "ERRORACTION", "PROXYSERVER", "PROXYPORT", "SYSTEMPROXY"})
        if (key == keyword)
            return true;
    return false;
}

int LastPos(std::string_view sub, std::string_view text) {
    if (sub.empty())
        return 0;
    std::size_t found = text.rfind(sub);
    return found == std::string_view::npos ? 0 : static_cast<int>(found) + 1;
}

CommandLineResult ReadCommandLine(const std::vector<std::string> &arguments,
                                  DownloadRequest &request) {
    CommandLineResult result;
    request = BuiltInRequest();
    if (arguments.size() < 2)
        return result;

    result.argumentsGiven = true;
    request.MirrorTable[0] = MirrorEntry{};
    request.FileName.clear();
    request.ProductName.clear();
    request.UserAgent = "TalvexDownload";
    request.MinimumOSVersionDescription.clear();
    request.OSPlatformId = 0;
    request.MinimumOSMajorVersion = 0;
    request.MinimumOSMinorVersion = 0;
    // The built-in digest and signer are those of the built-in file.
    request.Sha256.clear();
    request.Signers.clear();

    // Only the last error noted survives; reading goes on after an error.
    auto note = [&result](std::string error, std::size_t index) {
        if (error.empty())
            return;
        result.errorText = std::move(error);
        result.errorArgument = index;
    };
    result.urlError = ReadUrl(arguments[1], request);
    note(result.urlError, 1);
    for (std::size_t i = 2; i < arguments.size(); ++i)
        note(ReadParameter(arguments[i], i, request, result), i);
    return result;
}

void CompleteDerivedFields(DownloadRequest &request) {
    if (request.MinimumOSVersionDescription.empty()) {
        request.MinimumOSVersionDescription = std::to_string(request.OSPlatformId) + "." +
                                              std::to_string(request.MinimumOSMajorVersion) + "." +
                                              std::to_string(request.MinimumOSMinorVersion);
        request.DescriptionDerived = true;
    }
    if (request.ProductName.empty()) {
        const MirrorEntry &primary = request.MirrorTable[0];
        const std::string from =
            primary.Directory.empty() ? primary.Host : primary.Host + "/" + primary.Directory;
        request.ProductName = Fill(Tr("%1 from %2"), {LocalFileName(request.FileName), from});
    }
}

InformationRequest AskedForInformation(const std::vector<std::string> &arguments) {
    if (arguments.size() != 2)
        return InformationRequest::None;
    const std::string &argument = arguments[1];
    if (argument == "--help" || argument == "-h" || argument == "/?")
        return InformationRequest::Help;
    if (argument == "--version")
        return InformationRequest::Version;
    return InformationRequest::None;
}

std::string RequestedLanguage(const std::vector<std::string> &arguments) {
    std::string language = platform::SystemLanguage();
    for (std::size_t i = 2; i < arguments.size(); ++i) {
        const std::size_t colon = arguments[i].find(':');
        if (colon != std::string::npos && UpperCase(arguments[i].substr(0, colon)) == "LANGUAGE")
            language = arguments[i].substr(colon + 1);
    }
    return language;
}

std::string VersionText() { return "Talvex download application " DOWNLOAD_VERSION; }

std::string SyntaxMessage(const std::string &programPath, const std::string &errorText) {
    std::string message = std::string(Tr("Incorrect command line syntax.")) + "\n\r\n\r";
    if (!errorText.empty())
        message += std::string(Tr("There are errors in the parameters:")) + "\n\r" + errorText +
                   "\n\r";
    return message + UsageMessage(programPath);
}

std::string UsageMessage(const std::string &programPath) {
    // Windows paths may mix both separators.
    std::size_t slash = programPath.find_last_of(std::string("/") + platform::PathSeparator());
    std::string programName =
        programPath.substr(slash == std::string::npos ? 0 : slash + 1, kMaximumPart);
    // TRANSLATORS: the names before a colon (OutputDirectory, Pause, Unlimited, ...) are what
    // the user types: they stay as they are.
    const char *const paragraphs[] = {
        Tr("Download options (names in any case; switches take 1 or true for on, 0 or false for "
           "off; a bad value ends the program before anything is fetched):"),
        Tr("OutputDirectory: an existing directory to save the file in (default: the "
           "program's directory)."),
        Tr("OverrideFile: 1 replaces an existing file, 0 saves under a free name (default 1)."),
        Tr("CompletionClose: 1 closes the program after the download has completed (default "
           "1)."),
        Tr("CompletionOpenFolder: 1 opens the folder with the file selected after the download "
           "has completed (default 0)."),
        Tr("CompletionLaunchApplication: 1 runs the downloaded file (default 1)."),
        Tr("DeleteAfterDownloading: 1 deletes the file after it has run; it takes effect only "
           "while CompletionLaunchApplication is 1 (default 0)."),
        Tr("MaximumNumberOfAttempts: the failed attempts allowed before ErrorAction applies: an "
           "integer greater than 0, or Unlimited, written so (default 100)."),
        Tr("ErrorAction: what happens when the attempts are used up: Pause, Prompt or Close, or "
           "0, 1 or 2 (default Prompt)."),
        Tr("ProxyServer: the proxy host; giving it turns the proxy on, and ProxyPort must then "
           "be given too (default: no proxy)."),
        Tr("ProxyPort: the proxy port, 0 to 65535; it needs ProxyServer."),
        Tr("SystemProxy: 0 ignores the system's proxy settings (default 1: without ProxyServer "
           "they are followed)."),
    };
    std::string message = std::string(Tr("Correct syntax:")) + "\n\r" + programName +
                          " http://servername/directory/filename [ProductName:value] "
                          "[MinimumOSVersionDescription:value] [OSPlatformId:value] "
                          "[MinimumOSAMajorVersion:value] [MinimumOSMinorVersion:value] "
                          "[MaximumDetailToDisplay:value] [Sha256:value] [Signer:value]"
                          " [OutputDirectory:value] [OverrideFile:value] [CompletionClose:value] "
                          "[CompletionOpenFolder:value] [CompletionLaunchApplication:value] "
                          "[DeleteAfterDownloading:value] [MaximumNumberOfAttempts:value] "
                          "[ErrorAction:value] [ProxyServer:value] [ProxyPort:value] "
                          "[SystemProxy:value] [Language:value]\n\r\n\r";
    for (const char *paragraph : paragraphs)
        message += std::string(paragraph) + "\n\r";
    std::string languages;
    for (const std::string &code : platform::TextLanguages())
        languages += (languages.empty() ? "" : ", ") + code;
    return message + "\n\r" +
           Tr("Sha256: the SHA-256 digest the file must have, 64 hexadecimal digits in either "
              "case (sha256sum prints it); a file that differs is deleted and never run, and a "
              "malformed digest ends the program before anything is fetched.") +
           "\n\r" +
           Tr("Signer: the subject name of the certificate that must have signed the file "
              "(Authenticode), or several separated by \"|\"; a file that is unsigned, changed "
              "since it was signed, signed by a certificate that is expired or not trusted, or "
              "signed by another is deleted and never run. Only the Windows program checks "
              "signers: elsewhere, and for a malformed value, the program ends before anything "
              "is fetched.") +
           "\n\r" +
           Fill(Tr("Language: the language of the texts, one of %1 (default: the system's; "
                   "another language shows English)."),
                {languages}) +
           "\n\r\n\r" + Tr("--help (or -h, /?) shows this text; --version the program's version.");
}
