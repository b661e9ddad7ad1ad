#include "app/DownloadRequest.h"

#include "app/BuiltInHosts.h"

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
        "Windows 2000 SP4, XP, Vista, 7, Server 2003, Server 2008 or above";
    request.OSPlatformId = 2;
    request.MinimumOSMajorVersion = 5;
    request.MinimumOSMinorVersion = 0;
    request.MaximumDetailToDisplay = 1;
    request.MaximumRequestLength = -1;
    return request;
}

std::string LocalFileName(const std::string &fileName) {
    return fileName.substr(0, fileName.find_first_of("?#"));
}
