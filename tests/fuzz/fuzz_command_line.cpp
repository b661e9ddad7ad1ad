// ParseCommandLine, as the main window runs it at start-up (on the headless backend): the
// command line's reading, the derived fields, the download options given as parameters
// (validated by the options dialog) and the syntax message. The input is the arguments after
// the program's path, separated by NUL bytes.
#include "app/CommandLine.h"
#include "app/MainForm.h"
#include "gui/headless/HeadlessBackend.h"
#include "net/NMHttp.h"
#include "platform/Url.h"
#include "tests/fuzz/FuzzCheck.h"

#include <iostream>
#include <memory>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    // The syntax message of every faulty command line would flood the fuzzer's output.
    std::cerr.setstate(std::ios::failbit);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::vector<std::string> arguments{"/opt/download"};
    std::string argument;
    for (size_t i = 0; i < size && arguments.size() < 40; ++i) {
        if (data[i] == 0) {
            arguments.push_back(argument);
            argument.clear();
        } else {
            argument += static_cast<char>(data[i]);
        }
    }
    if (size > 0)
        arguments.push_back(argument);
    // An application of its own for each input: it keeps every form made in it.
    auto headless = std::make_unique<gui::HeadlessBackend>();
    gui::HeadlessBackend *backend = headless.get();
    gui::Application app(std::move(headless));
    TMainForm main(app, arguments);
    const DownloadRequest &request = main.Request();
    if (main.RunApplication && !request.MirrorTable[0].Host.empty()) {
        fuzz::Check(IsPlainFileName(LocalFileName(request.FileName)),
                    "a download that would start has a plain file name");
        const MirrorEntry &primary = request.MirrorTable[0];
        fuzz::Check(primary.Host.find('@') == std::string::npos,
                    "no user information in the host that texts show");
        const std::string url = platform::LocationUrl(request.Protocol, primary.Host,
                                                      primary.Directory, request.FileName);
        fuzz::Check(platform::HostError(platform::SplitHostPort(primary.Host).host).empty(),
                    "the host of a download that would start names a server");
        fuzz::Check(platform::SplitUrl(url).host == platform::SplitHostPort(primary.Host).host,
                    "the URL asked names the host shown");
        fuzz::Check(platform::ControlCharacterIn(url).empty(), "no control character is asked for");
        fuzz::Check(net::TNMHTTP::LongestRequestLine(url) <= net::TNMHTTP::kMaxRequestLine,
                    "a download that would start fits in a request line");
    }
    // --version answers on standard output alone: no box.
    if (!main.RunApplication && AskedForInformation(arguments) != InformationRequest::Version)
        fuzz::Check(backend->messages.size() == 1, "an ending command line says why");
    if (main.RunApplication) {
        fuzz::Check(!request.ProductName.empty(), "a product name");
        fuzz::Check(!request.MinimumOSVersionDescription.empty(), "a requirement text");
        const TOptionsForm &options = main.Options();
        fuzz::Check(options.MaximumNumberOfAttempts == -1 || options.MaximumNumberOfAttempts > 0,
                    "attempts Unlimited or more than 0");
        fuzz::Check(!options.UseProxyServer ||
                        (!options.ProxyServerName.empty() && options.ProxyPort >= 0 &&
                         options.ProxyPort <= 65535),
                    "a proxy in use has a name and a port in range");
        fuzz::Check(options.OutputDirectory.empty() || options.OutputDirectory.back() == '/',
                    "the output directory ends in a separator");
    }
    if (arguments.size() == 1)
        fuzz::Check(request == BuiltInRequest(), "no arguments: the built-in request");
    return 0;
}
