#include "tests/support/TlsTestServer.h"

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace testsupport {
namespace {

SSL_CTX *Context(void *p) {
    return static_cast<SSL_CTX *>(p);
}

bool SendAll(int fd, const std::string &bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

} // namespace

TlsTestServer::TlsTestServer(const ServerCertificate &certificate, TlsPlan plan)
    : plan_(std::move(plan)) {
    SSL_CTX *ctx = SSL_CTX_new(TLS_server_method());
    context_ = ctx;
    if (!ctx || SSL_CTX_use_certificate_chain_file(ctx, certificate.certificate.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(ctx, certificate.key.c_str(), SSL_FILETYPE_PEM) != 1) {
        SSL_CTX_free(ctx);
        throw std::runtime_error("TlsTestServer: cannot load " + certificate.certificate);
    }
    // Session tickets would be more records after the handshake than the plan says.
    SSL_CTX_set_num_tickets(ctx, 0);
    listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof sa;
    if (listenFd_ < 0 || bind(listenFd_, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0 ||
        listen(listenFd_, 8) != 0 ||
        getsockname(listenFd_, reinterpret_cast<sockaddr *>(&sa), &len) != 0) {
        if (listenFd_ >= 0)
            close(listenFd_);
        SSL_CTX_free(ctx);
        throw std::runtime_error("TlsTestServer: cannot listen on 127.0.0.1");
    }
    port_ = ntohs(sa.sin_port);
    thread_ = std::thread([this] { Serve(); });
}

TlsTestServer::~TlsTestServer() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        if (connectionFd_ >= 0)
            shutdown(connectionFd_, SHUT_RDWR); // ends a blocked read or write at once
    }
    stopped_.notify_all();
    shutdown(listenFd_, SHUT_RDWR);
    thread_.join();
    close(listenFd_);
    SSL_CTX_free(Context(context_));
}

std::vector<std::string> TlsTestServer::Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

bool TlsTestServer::Sleep(std::chrono::milliseconds d) {
    std::unique_lock lock(mutex_);
    return !stopped_.wait_for(lock, d, [this] { return stopping_; });
}

void TlsTestServer::Serve() {
    for (;;) {
        pollfd p{listenFd_, POLLIN, 0};
        if (poll(&p, 1, 100) < 0)
            return;
        {
            std::lock_guard lock(mutex_);
            if (stopping_)
                return;
        }
        if (!(p.revents & POLLIN))
            continue;
        int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            return;
        {
            std::lock_guard lock(mutex_);
            connectionFd_ = fd;
        }
        ServeOne(fd);
        std::lock_guard lock(mutex_);
        connectionFd_ = -1;
        close(fd);
    }
}

void TlsTestServer::ServeOne(int fd) {
    SSL *ssl = SSL_new(Context(context_));
    SSL_set_fd(ssl, fd);
    std::string request;
    if (SSL_accept(ssl) == 1) {
        char buffer[4096];
        while (request.find("\r\n\r\n") == std::string::npos) {
            int n = SSL_read(ssl, buffer, sizeof buffer);
            if (n <= 0)
                break;
            request.append(buffer, static_cast<size_t>(n));
        }
        {
            std::lock_guard lock(mutex_);
            requests_.push_back(request);
        }
        // Records go into memory first, so that a whole burst leaves in one send().
        BIO *out = BIO_new(BIO_s_mem());
        SSL_set0_wbio(ssl, out);
        bool ok = true;
        for (size_t b = 0; ok && b < plan_.bursts.size(); ++b) {
            if (b > 0 && !Sleep(plan_.gap))
                ok = false;
            for (const auto &record : plan_.bursts[b])
                SSL_write(ssl, record.data(), static_cast<int>(record.size()));
            char *data = nullptr;
            long size = BIO_get_mem_data(out, &data);
            std::string bytes(data, static_cast<size_t>(size));
            (void)BIO_reset(out);
            if (plan_.corruptLastByte && b + 1 == plan_.bursts.size() && !bytes.empty())
                bytes.back() = static_cast<char>(bytes.back() ^ 0x5A);
            ok = ok && SendAll(fd, bytes);
        }
        if (ok && Sleep(plan_.holdOpen)) {
            SSL_shutdown(ssl);
            char *data = nullptr;
            long size = BIO_get_mem_data(out, &data);
            SendAll(fd, std::string(data, static_cast<size_t>(size)));
        }
    }
    SSL_free(ssl);
    ERR_clear_error();
}

} // namespace testsupport
