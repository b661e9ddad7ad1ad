// A point-to-point link with a fixed one-way delay between two network namespaces, for kernels
// without the netem queueing discipline. It creates a TUN device in each namespace and carries
// every packet that one side sends to the other side after DELAY_MS, in order. TCP therefore
// sees a real round trip of twice the delay: its windows, slow start and acknowledgements
// behave as on a long path. The devices take segmentation offload (a virtio header on each
// packet), so the link moves up to 64 KiB per read and write while TCP still works with the
// MTU's segment size.
//
//   delay_link DELAY_MS NETNS_A DEVICE_A NETNS_B DEVICE_B
//
// NETNS_* are namespace files (e.g. /run/netns/NAME). Prints "ready" on standard output once
// both devices exist (the caller then gives them addresses and brings them up), carries
// packets until SIGTERM or SIGINT, then prints its counters on standard error and exits 0.
// The devices disappear with the process.

#include <linux/if.h>
#include <linux/if_tun.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <deque>
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <string>
#include <sys/ioctl.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr size_t kReadBuffer = 256 * 1024;       // beyond the largest offloaded packet
constexpr size_t kQueueLimit = 64 * 1024 * 1024; // bytes held per direction before dropping
constexpr int kReadsPerWakeup = 64;              // then due packets are sent again

volatile sig_atomic_t stopRequested = 0;

void OnStop(int) {
    stopRequested = 1;
}

int64_t NowNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

[[noreturn]] void Die(const std::string &what) {
    std::fprintf(stderr, "delay_link: %s: %s\n", what.c_str(), std::strerror(errno));
    std::exit(1);
}

// Opens a TUN device named `name` with virtio headers and offloads, inside the namespace
// `netnsPath`; the descriptor is non-blocking and keeps working after the thread moves on.
int OpenTun(const char *netnsPath, const char *name) {
    int ns = open(netnsPath, O_RDONLY | O_CLOEXEC);
    if (ns < 0)
        Die(std::string("open ") + netnsPath);
    if (setns(ns, CLONE_NEWNET) != 0)
        Die(std::string("setns ") + netnsPath);
    close(ns);
    int fd = open("/dev/net/tun", O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        Die("open /dev/net/tun");
    ifreq ifr{};
    ifr.ifr_flags = IFF_TUN | IFF_NO_PI | IFF_VNET_HDR;
    std::snprintf(ifr.ifr_name, IFNAMSIZ, "%s", name);
    if (ioctl(fd, TUNSETIFF, &ifr) != 0)
        Die(std::string("TUNSETIFF ") + name);
    unsigned offload = TUN_F_CSUM | TUN_F_TSO4 | TUN_F_TSO6 | TUN_F_TSO_ECN;
    if (ioctl(fd, TUNSETOFFLOAD, offload) != 0)
        Die(std::string("TUNSETOFFLOAD ") + name);
    return fd;
}

struct Packet {
    int64_t due;
    std::vector<char> bytes;
};

// One direction: packets read from `in`, written to `out` once due.
struct Direction {
    int in, out;
    std::deque<Packet> queue;
    size_t queued = 0;
    uint64_t packets = 0, bytes = 0, dropped = 0, writeErrors = 0;

    void Receive(int64_t delayNs, std::vector<char> &buffer) {
        for (int n = 0; n < kReadsPerWakeup; ++n) {
            ssize_t got = read(in, buffer.data(), buffer.size());
            if (got < 0) {
                if (errno == EAGAIN || errno == EINTR)
                    return;
                Die("read");
            }
            if (got == 0)
                return;
            if (queued + static_cast<size_t>(got) > kQueueLimit) {
                ++dropped; // a full router queue drops, and TCP backs off
                continue;
            }
            queue.push_back({NowNs() + delayNs, {buffer.begin(), buffer.begin() + got}});
            queued += static_cast<size_t>(got);
        }
    }

    void SendDue(int64_t now) {
        while (!queue.empty() && queue.front().due <= now) {
            const std::vector<char> &b = queue.front().bytes;
            if (write(out, b.data(), b.size()) == static_cast<ssize_t>(b.size())) {
                ++packets;
                bytes += b.size();
            } else {
                ++writeErrors;
            }
            queued -= b.size();
            queue.pop_front();
        }
    }
};

} // namespace

int main(int argc, char **argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: delay_link DELAY_MS NETNS_A DEVICE_A NETNS_B DEVICE_B\n");
        return 2;
    }
    char *end = nullptr;
    long delayMs = std::strtol(argv[1], &end, 10);
    if (*end != '\0' || delayMs < 0 || delayMs > 10000) {
        std::fprintf(stderr, "delay_link: bad delay: %s\n", argv[1]);
        return 2;
    }
    const int64_t delayNs = static_cast<int64_t>(delayMs) * 1000000;

    struct sigaction sa {};
    sa.sa_handler = OnStop;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);

    int a = OpenTun(argv[2], argv[3]);
    int b = OpenTun(argv[4], argv[5]);
    Direction dirs[2] = {{a, b, {}}, {b, a, {}}};
    std::printf("ready\n");
    std::fflush(stdout);

    std::vector<char> buffer(kReadBuffer);
    while (!stopRequested) {
        int64_t now = NowNs();
        int64_t next = -1;
        for (auto &d : dirs) {
            d.SendDue(now);
            if (!d.queue.empty() && (next < 0 || d.queue.front().due < next))
                next = d.queue.front().due;
        }
        pollfd fds[2] = {{a, POLLIN, 0}, {b, POLLIN, 0}};
        timespec wait{};
        timespec *timeout = nullptr;
        if (next >= 0) {
            int64_t left = next > now ? next - now : 0;
            wait.tv_sec = static_cast<time_t>(left / 1000000000);
            wait.tv_nsec = static_cast<long>(left % 1000000000);
            timeout = &wait;
        }
        if (ppoll(fds, 2, timeout, nullptr) < 0) {
            if (errno == EINTR)
                continue;
            Die("ppoll");
        }
        for (int i = 0; i < 2; ++i)
            if (fds[i].revents & POLLIN)
                dirs[i].Receive(delayNs, buffer);
    }
    for (int i = 0; i < 2; ++i)
        std::fprintf(stderr,
                     "delay_link: %s -> %s: %llu packets, %llu bytes, %llu dropped, %llu write "
                     "errors\n",
                     argv[3 + 2 * i], argv[5 - 2 * i],
                     static_cast<unsigned long long>(dirs[i].packets),
                     static_cast<unsigned long long>(dirs[i].bytes),
                     static_cast<unsigned long long>(dirs[i].dropped),
                     static_cast<unsigned long long>(dirs[i].writeErrors));
    return 0;
}
