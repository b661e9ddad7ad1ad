#pragma once

#include <openssl/opensslv.h>

// The file name of an OpenSSL library ("libssl", "libcrypto") of the version this program was
// built against, with its ABI version ("libssl.so.3"): the library is loaded at run time, and
// one of another ABI would not match the headers the calls were compiled with.
#define PLATFORM_OPENSSL_TEXT(x) #x
#define PLATFORM_OPENSSL_NUMBER_TEXT(x) PLATFORM_OPENSSL_TEXT(x)
#ifdef OPENSSL_SHLIB_VERSION
#define PLATFORM_OPENSSL_LIBRARY(base)                                                         \
    base ".so." PLATFORM_OPENSSL_NUMBER_TEXT(OPENSSL_SHLIB_VERSION)
#else
#define PLATFORM_OPENSSL_LIBRARY(base) base ".so." SHLIB_VERSION_NUMBER
#endif
