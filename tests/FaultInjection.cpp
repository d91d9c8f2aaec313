// SPDX-License-Identifier: GPL-3.0-or-later

// A library the tests load into kestrel-cli (LD_PRELOAD) to make directory
// listings behave as on failing or slow media:
//   KESTREL_FAULT_READDIR_DELAY_US=n  every entry read takes n microseconds
//   an entry whose name begins with "eio-after" is the last one its listing
//   gives: the next read fails with EIO, as on a card that stops answering.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <dlfcn.h>
#include <unistd.h>

namespace {

thread_local DIR* t_pFailing = nullptr;

long DelayUs() {
    static const long nDelay = [] {
        const char* psz = std::getenv("KESTREL_FAULT_READDIR_DELAY_US");
        return psz ? std::atol(psz) : 0L;
    }();
    return nDelay;
}

template <typename Entry> Entry* ReadWithFaults(DIR* pDir, Entry* (*fnReal)(DIR*)) {
    if (DelayUs() > 0)
        ::usleep(static_cast<useconds_t>(DelayUs()));
    if (t_pFailing == pDir) {
        t_pFailing = nullptr;
        errno = EIO;
        return nullptr;
    }
    Entry* pEntry = fnReal(pDir);
    if (pEntry && std::strncmp(pEntry->d_name, "eio-after", 9) == 0)
        t_pFailing = pDir;
    return pEntry;
}

} // namespace

extern "C" dirent* readdir(DIR* pDir) {
    static auto fnReal = reinterpret_cast<dirent* (*)(DIR*)>(::dlsym(RTLD_NEXT, "readdir"));
    return ReadWithFaults(pDir, fnReal);
}

extern "C" dirent64* readdir64(DIR* pDir) {
    static auto fnReal = reinterpret_cast<dirent64* (*)(DIR*)>(::dlsym(RTLD_NEXT, "readdir64"));
    return ReadWithFaults(pDir, fnReal);
}
