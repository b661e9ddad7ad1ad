// A mirror for scripts/demo: serves one file with HEAD and "Range: bytes=" on 127.0.0.1 from
// testsupport::RangeServer, prints its port on standard output and serves until SIGTERM or
// SIGINT (or until its lifetime is over, so that a forgotten mirror does not stay). Each
// request it gets is logged on standard error ("GET Range: bytes=0-99").
//
//   demo_mirror [--pace BYTES:MS] [--status CODE] [--get-status CODE] [--reason TEXT]
//               [--last-modified DATE] [--trickle WHAT:MS] [--get-fault KIND] [--lifetime SECONDS]
//               [--address ADDR] [--port PORT] FILE HEAD_DELAY_MS
//
//   HEAD_DELAY_MS      HEAD answers come this much later (a slower location)
//   --pace BYTES:MS    bodies go out in slices of BYTES with MS between slices
//   --status CODE      every request is answered with CODE and a small error page
//   --get-status CODE  only the GET requests are (the size request is answered)
//   --reason TEXT      the reason phrase of those answers (escape codes, for example)
//   --last-modified DATE  the Last-Modified of every answer (a validator to resume with)
//   --trickle WHAT:MS  one byte of the answer every MS, header included: of every HEAD
//                      request (WHAT "head"), of the first range request ("range") or of
//                      every one ("ranges")
//   --get-fault KIND   every range request is answered with a 206 that is not the range's
//                      bytes: "coded" (Content-Encoding: gzip, the right Content-Range),
//                      "no-content-range" (no Content-Range, the file's first bytes)
//   --lifetime SECONDS ends by itself after this long (default 900)
//   --address ADDR     listens on this IPv4 address (default 127.0.0.1)
//   --port PORT        listens on this port (default: an ephemeral one)

#include "tests/support/RangeServer.h"
#include "tests/support/StopSignals.h"

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include <pthread.h>
#include <signal.h>

namespace {

int Usage(const char *message) {
    std::cerr << "demo_mirror: " << message << "\n"
              << "usage: demo_mirror [--pace BYTES:MS] [--status CODE] [--get-status CODE] "
                 "[--reason TEXT] "
                 "[--trickle WHAT:MS] [--get-fault KIND] [--lifetime SECONDS] [--address ADDR] "
                 "[--port PORT] FILE HEAD_DELAY_MS\n";
    return 2;
}

bool ToNumber(const std::string &text, long &value) {
    if (text.empty())
        return false;
    char *end = nullptr;
    errno = 0;
    value = std::strtol(text.c_str(), &end, 10);
    return errno == 0 && *end == '\0' && value >= 0;
}

} // namespace

int main(int argc, char **argv) {
    long paceBytes = 0, paceMs = 0, status = 0, lifetime = 900, port = 0;
    bool getsOnly = false;
    std::string file, address = "127.0.0.1", trickle, reason, lastModified;
    long trickleMs = 0;
    using Kind = testsupport::RangeFault::Kind;
    Kind getFault = Kind::None;
    long headDelay = -1;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--pace" && hasValue) {
            const std::string value = argv[++i];
            const size_t colon = value.find(':');
            if (colon == std::string::npos || !ToNumber(value.substr(0, colon), paceBytes) ||
                !ToNumber(value.substr(colon + 1), paceMs))
                return Usage("--pace takes BYTES:MS");
        } else if ((arg == "--status" || arg == "--get-status") && hasValue) {
            if (!ToNumber(argv[++i], status) || status < 100 || status > 599)
                return Usage("--status takes an HTTP status code");
            getsOnly = arg == "--get-status";
        } else if (arg == "--reason" && hasValue) {
            reason = argv[++i];
        } else if (arg == "--last-modified" && hasValue) {
            lastModified = argv[++i];
        } else if (arg == "--trickle" && hasValue) {
            const std::string value = argv[++i];
            const size_t colon = value.find(':');
            trickle = value.substr(0, colon);
            if (colon == std::string::npos || !ToNumber(value.substr(colon + 1), trickleMs) ||
                (trickle != "head" && trickle != "range" && trickle != "ranges"))
                return Usage("--trickle takes head:MS, range:MS or ranges:MS");
        } else if (arg == "--get-fault" && hasValue) {
            const std::string value = argv[++i];
            if (value == "coded")
                getFault = Kind::Coded;
            else if (value == "no-content-range")
                getFault = Kind::NoContentRange;
            else
                return Usage("--get-fault takes coded or no-content-range");
        } else if (arg == "--lifetime" && hasValue) {
            if (!ToNumber(argv[++i], lifetime) || lifetime < 1)
                return Usage("--lifetime takes a number of seconds");
        } else if (arg == "--address" && hasValue) {
            address = argv[++i];
        } else if (arg == "--port" && hasValue) {
            if (!ToNumber(argv[++i], port) || port > 65535)
                return Usage("--port takes a port number");
        } else if (file.empty()) {
            file = arg;
        } else if (headDelay < 0) {
            if (!ToNumber(arg, headDelay))
                return Usage("HEAD_DELAY_MS must be a number of milliseconds");
        } else {
            return Usage("too many arguments");
        }
    }
    if (file.empty() || headDelay < 0)
        return Usage("FILE and HEAD_DELAY_MS are needed");

    std::ifstream in(file, std::ios::binary);
    if (!in) {
        std::cerr << "demo_mirror: cannot open " << file << ": " << std::strerror(errno) << "\n";
        return 1;
    }
    std::ostringstream content;
    content << in.rdbuf();

    // The server's threads inherit this mask, so the signals reach only sigtimedwait below.
    const sigset_t stop = testsupport::BlockStopSignals();

    testsupport::RangeServer server(content.str(), address, static_cast<uint16_t>(port),
                                    lastModified);
    server.SetHeadDelay(std::chrono::milliseconds(headDelay));
    if (paceBytes > 0)
        server.SetBodyPace(static_cast<size_t>(paceBytes), std::chrono::milliseconds(paceMs));
    // Every request is logged on standard error: method and range, and the answer if forced.
    size_t ranges = 0; // range requests so far (the server calls the plan under its lock)
    server.SetFaults([&, status, getsOnly](size_t, const testsupport::SeenRequest &seen) {
        testsupport::RangeFault fault;
        // A range request, not the one-byte one that may ask for the size.
        const bool ranged =
            seen.method == "GET" && !seen.rangeLine.empty() && seen.rangeLine != "Range: bytes=0-0";
        const bool trickled = ranged ? trickle == "ranges" || (trickle == "range" && ranges == 0)
                                     : seen.method == "HEAD" && trickle == "head";
        ranges += ranged;
        if (status != 0 && (!getsOnly || seen.method == "GET")) {
            fault.kind = Kind::Status;
            fault.status = static_cast<int>(status);
            fault.location = reason;
        } else if (trickled) {
            fault = {Kind::Trickle, 1, 0, std::chrono::milliseconds(trickleMs)};
        } else if (ranged && getFault != Kind::None) {
            fault.kind = getFault;
        }
        std::string line = seen.method;
        if (!seen.rangeLine.empty())
            line += " " + seen.rangeLine;
        if (fault.status != 0)
            line += " -> " + std::to_string(status);
        else if (fault.kind == Kind::Trickle)
            line += " -> trickle";
        else if (fault.kind != Kind::None)
            line += " -> wrong body";
        std::cerr << line + "\n" << std::flush;
        return fault;
    });
    std::cout << server.Port() << std::endl;

    testsupport::WaitForStopSignal(stop, std::chrono::seconds(lifetime));
    server.Stop();
    return 0;
}
