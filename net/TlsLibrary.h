#pragma once

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <string>

namespace net {

// The TLS library's functions this program calls, each as a pointer of its own type.
#define NET_TLS_FUNCTIONS(X)                                                                   \
    X(BIO_ctrl)                                                                                \
    X(BIO_free)                                                                                \
    X(BIO_new)                                                                                 \
    X(BIO_read)                                                                                \
    X(BIO_s_mem)                                                                               \
    X(BIO_write)                                                                               \
    X(ERR_clear_error)                                                                         \
    X(ERR_error_string_n)                                                                      \
    X(ERR_peek_last_error)                                                                     \
    X(ERR_reason_error_string)                                                                 \
    X(SSL_CTX_ctrl)                                                                            \
    X(SSL_CTX_free)                                                                            \
    X(SSL_CTX_new)                                                                             \
    X(SSL_CTX_set_default_verify_paths)                                                        \
    X(SSL_CTX_set_options)                                                                     \
    X(SSL_CTX_set_verify)                                                                      \
    X(SSL_ctrl)                                                                                \
    X(SSL_do_handshake)                                                                        \
    X(SSL_free)                                                                                \
    X(SSL_get0_param)                                                                          \
    X(SSL_get_error)                                                                           \
    X(SSL_get_verify_result)                                                                   \
    X(SSL_is_init_finished)                                                                    \
    X(SSL_new)                                                                                 \
    X(SSL_pending)                                                                             \
    X(SSL_read)                                                                                \
    X(SSL_set1_host)                                                                           \
    X(SSL_set_bio)                                                                             \
    X(SSL_set_connect_state)                                                                   \
    X(SSL_shutdown)                                                                            \
    X(SSL_write)                                                                               \
    X(TLS_client_method)                                                                       \
    X(X509_VERIFY_PARAM_set1_ip_asc)                                                           \
    X(X509_VERIFY_PARAM_set_hostflags)                                                         \
    X(X509_verify_cert_error_string)

// The system's TLS library (OpenSSL), loaded when the first TLS session is set up: plain
// HTTP runs never map it, which keeps them about 2 MB smaller. It stays loaded.
struct TTlsLibrary {
#define NET_TLS_POINTER(name) decltype(&::name) name = nullptr;
    NET_TLS_FUNCTIONS(NET_TLS_POINTER)
#undef NET_TLS_POINTER
};

// The loaded library, or nullptr with why in `error` (the library is missing, or lacks one
// of the functions). Loads it at the first call; any thread.
const TTlsLibrary *TlsLibrary(std::string &error);

} // namespace net
