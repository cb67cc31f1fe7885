// The main-thread check. The main thread is the one that ran static
// initialisation, which is the thread that entered the program.
#include "Platform/MainThread.hpp"

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <thread>

namespace quellan::platform {
namespace {

const std::thread::id mainThread = std::this_thread::get_id();

} // namespace

bool isMainThread() noexcept { return std::this_thread::get_id() == mainThread; }

void requireMainThread(const char* entryPoint) noexcept {
    if (isMainThread()) return;
    std::fprintf(stderr,
                 "quellan: programming error: %s was called from a thread other than the main thread; "
                 "all of Quellan's work must run on the main thread\n",
                 entryPoint);
    std::abort();
}

} // namespace quellan::platform
