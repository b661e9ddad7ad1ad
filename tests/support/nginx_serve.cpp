// Serves a directory with nginx on 127.0.0.1 for shell-driven tests, through NginxServer:
//   nginx_serve ROOT PORT_FILE [SECONDS [CONFIG]]
// (CONFIG: lines for nginx's server block, e.g. "limit_rate 2m;"; @PORT@ in them is the port,
// e.g. "listen [::1]:@PORT@;")
// Starts nginx on an ephemeral port, writes the port (and a line feed) to PORT_FILE (written
// beside it and renamed, so a reader never sees half of it), then waits for SIGTERM, SIGINT or
// SIGHUP, at most SECONDS (default 120), and stops nginx. After a stop by a signal it writes
// nginx's access log to standard output (one line per request: address, request line, status,
// body bytes, Range header). Exits 0 after a stop by signal, 3 when the time ran out, 77 when
// nginx is not installed, 1 on any other failure.
#include "tests/support/RealPeers.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <exception>
#include <fstream>
#include <iostream>
#include <string>

int main(int argc, char **argv) {
    if (argc < 3 || argc > 5) {
        std::cerr << "usage: nginx_serve ROOT PORT_FILE [SECONDS [CONFIG]]\n";
        return 1;
    }
    const std::string root = argv[1];
    const std::string portFile = argv[2];
    long seconds = 120;
    const std::string config = argc == 5 ? argv[4] : "";
    if (argc >= 4) {
        char *end = nullptr;
        seconds = std::strtol(argv[3], &end, 10);
        if (end == argv[3] || *end != '\0' || seconds < 1 || seconds > 3600) {
            std::cerr << "nginx_serve: SECONDS must be 1 to 3600, not '" << argv[3] << "'\n";
            return 1;
        }
    }
    std::string why;
    if (!testsupport::NginxServer::Available(&why)) {
        std::cerr << "nginx_serve: " << why << '\n';
        return 77;
    }

    // Blocked before nginx is started, so the signals wait here for sigtimedwait.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGHUP);
    if (sigprocmask(SIG_BLOCK, &stopSignals, nullptr) != 0) {
        std::perror("nginx_serve: sigprocmask");
        return 1;
    }

    try {
        testsupport::NginxServer nginx(root, config);
        const std::string partial = portFile + ".part";
        {
            std::ofstream out(partial, std::ios::trunc);
            out << nginx.Port() << '\n';
            if (!out.flush()) {
                std::cerr << "nginx_serve: cannot write " << partial << '\n';
                return 1;
            }
        }
        if (std::rename(partial.c_str(), portFile.c_str()) != 0) {
            std::perror("nginx_serve: rename");
            return 1;
        }
        // nginx is stopped by the destructor on the way out.
        const std::time_t deadline = std::time(nullptr) + seconds;
        for (;;) {
            const std::time_t left = deadline - std::time(nullptr);
            if (left <= 0)
                return 3;
            const timespec limit{left, 0};
            if (sigtimedwait(&stopSignals, nullptr, &limit) > 0) {
                std::cout << nginx.AccessLog() << std::flush;
                return 0;
            }
            if (errno != EINTR)
                return 3;
        }
    } catch (const std::exception &error) {
        std::cerr << "nginx_serve: " << error.what() << '\n';
        return 1;
    }
}
