// What the program says when it ends through std::terminate (an exception nobody caught, which
// main's own handler makes unexpected): the exception's own text, then abort. It stands in for
// the C++ library's verbose handler, which names the exception's type through the library's
// demangler: linked statically into the Windows program, the two cost about 50 KB of a download
// stub picked for being small.
#include <cstdio>
#include <cstdlib>
#include <exception>

namespace __gnu_cxx {

void __verbose_terminate_handler() {
    std::fputs("download: terminated", stderr);
    if (const std::exception_ptr current = std::current_exception()) {
        try {
            std::rethrow_exception(current);
        } catch (const std::exception &error) {
            std::fprintf(stderr, " by an exception: %s", error.what());
        } catch (...) {
            std::fputs(" by an exception", stderr);
        }
    }
    std::fputs("\n", stderr);
    std::abort();
}

} // namespace __gnu_cxx
