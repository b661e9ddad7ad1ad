#include "app/DownloadRequest.h"

#include "app/BuiltInHosts.h"
#include "app/CommandLine.h"
#include "platform/Catalogue.h"

#include <cctype>

DownloadRequest BuiltInRequest() {
    DownloadRequest request;
    request.Protocol = kBuiltInProtocol;
    request.MirrorTable = {{
        {kPrimaryDownloadHost, "Pelko1"},
        {kIrelandMirrorHost, "pelko1-ie"},
        {kSingaporeMirrorHost, "pelko1-sg"},
        {kCaliforniaMirrorHost, "pelko1-ca"},
    }};
    request.FileName = "Pelko_setup.exe";
    request.ProductName = "Pelko";
    request.UserAgent = "TalvexDownload Pelko1";
    request.MinimumOSVersionDescription =
        // TRANSLATORS: the systems the built-in product runs on, named in the question asked
        // on another system.
        platform::Tr("Windows 2000 SP4, XP, Vista, 7, Server 2003, Server 2008 or above");
    request.OSPlatformId = 2;
    request.MinimumOSMajorVersion = 5;
    request.MinimumOSMinorVersion = 0;
    request.MaximumDetailToDisplay = 1;
    request.MaximumRequestLength = -1;
    request.Sha256 = kBuiltInSha256;
    request.Signers = ReadSigners(kBuiltInSigner);
    return request;
}

std::string LocalFileName(const std::string &fileName) {
    return fileName.substr(0, fileName.find_first_of("?#"));
}

bool IsPlainFileName(const std::string &localName) {
    if (localName.empty() || localName == "." || localName == "..")
        return false;
    for (char c : localName)
        if (c == '/' || c == '\\' || static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
            return false;
    // A server decodes "%2F" into a separator, so the name would not be the file's name.
    for (size_t at = localName.find('%'); at != std::string::npos;
         at = localName.find('%', at + 1)) {
        std::string code = localName.substr(at + 1, 2);
        for (char &c : code)
            c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        if (code == "2F" || code == "5C")
            return false;
    }
    return true;
}
