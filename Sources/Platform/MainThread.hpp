// Quellan's work runs on one thread; entry points check that they are on it.
#pragma once

namespace quellan::platform {

/// True on the thread that started the program.
bool isMainThread() noexcept;

/// Reports a call from any other thread as a programming error: prints
/// which entry point was called from where, then aborts.
void requireMainThread(const char* entryPoint) noexcept;

} // namespace quellan::platform
