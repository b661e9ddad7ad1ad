// Receives a large transfer from a local sender over loopback, once with the socket
// component's CaptureFile and once with a plain blocking recv loop, and prints the speed and
// the receiving thread's CPU time of each, so that the cost of the notification-and-wait
// model shows as a ratio.
//
//   capture_bench [MiB = 1024] [runs = 3] [sink = /dev/null]

#include "net/Psock.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <netinet/in.h>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

struct Sample {
    double seconds = 0, cpu = 0;
    int64_t bytes = 0;
};

double ThreadCpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_THREAD, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// A listener that sends `total` bytes to its first client and closes.
class Sender {
  public:
    explicit Sender(int64_t total) {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd_, reinterpret_cast<sockaddr *>(&sa), sizeof sa);
        listen(fd_, 1);
        socklen_t len = sizeof sa;
        getsockname(fd_, reinterpret_cast<sockaddr *>(&sa), &len);
        port_ = ntohs(sa.sin_port);
        thread_ = std::thread([this, total] {
            int c = accept(fd_, nullptr, nullptr);
            std::vector<char> block(1 << 20, 'x');
            for (int64_t left = total; left > 0;) {
                ssize_t n = send(c, block.data(), std::min<int64_t>(left, block.size()), 0);
                if (n <= 0)
                    break;
                left -= n;
            }
            close(c);
        });
    }
    ~Sender() {
        thread_.join();
        close(fd_);
    }
    uint16_t Port() const { return port_; }

  private:
    int fd_;
    uint16_t port_;
    std::thread thread_;
};

Sample Measure(int64_t total, bool component, const std::string &sink) {
    Sender sender(total);
    Sample s;
    auto start = std::chrono::steady_clock::now();
    double cpu0 = ThreadCpuSeconds();
    if (component) {
        net::TPowersock sock;
        sock.Host = "127.0.0.1";
        sock.Port = sender.Port();
        sock.Connect();
        sock.CaptureFile(sink);
        s.bytes = sock.ReceiveProgress;
    } else {
        int c = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(sender.Port());
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        connect(c, reinterpret_cast<sockaddr *>(&sa), sizeof sa);
        int out = open(sink.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        char buffer[16384];
        ssize_t n;
        while ((n = recv(c, buffer, 16383, 0)) > 0) {
            s.bytes += n;
            if (write(out, buffer, n) != n)
                break;
        }
        close(out);
        close(c);
    }
    s.cpu = ThreadCpuSeconds() - cpu0;
    s.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return s;
}

Sample Median(std::vector<Sample> v) {
    std::sort(v.begin(), v.end(), [](auto &a, auto &b) { return a.seconds < b.seconds; });
    return v[v.size() / 2];
}

} // namespace

int main(int argc, char **argv) {
    int64_t mib = argc > 1 ? std::atoll(argv[1]) : 1024;
    int runs = argc > 2 ? std::atoi(argv[2]) : 3;
    std::string sink = argc > 3 ? argv[3] : "/dev/null";
    if (mib <= 0 || runs <= 0) {
        std::fprintf(stderr, "usage: capture_bench [MiB] [runs] [sink file]\n");
        return 2;
    }
    int64_t total = mib << 20;
    std::vector<Sample> plain, comp;
    for (int r = 0; r < runs; ++r) { // alternate, so both see the same machine state
        plain.push_back(Measure(total, false, sink));
        comp.push_back(Measure(total, true, sink));
    }
    for (auto *set : {&plain, &comp})
        for (auto &s : *set)
            if (s.bytes != total) {
                std::fprintf(stderr, "short transfer: %lld of %lld bytes\n",
                             static_cast<long long>(s.bytes), static_cast<long long>(total));
                return 1;
            }
    Sample p = Median(plain), c = Median(comp);
    double gib = static_cast<double>(total) / (1 << 30);
    auto row = [&](const char *name, const Sample &s) {
        std::printf("%-28s %10.0f %14.3f\n", name, total / 1e6 / s.seconds, s.cpu / gib);
    };
    std::printf("%lld MiB over loopback into %s, median of %d runs\n",
                static_cast<long long>(mib), sink.c_str(), runs);
    std::printf("%-28s %10s %14s\n", "receiver", "MB/s", "CPU s per GiB");
    row("blocking recv loop", p);
    row("TPowersock::CaptureFile", c);
    std::printf("ratio CaptureFile / recv loop: speed %.2f, CPU %.2f\n", p.seconds / c.seconds,
                c.cpu / p.cpu);
    return 0;
}
