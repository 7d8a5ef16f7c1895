// Preloaded (LD_PRELOAD) into a program under test, this kills the program at one step of
// putting bytes on disk, as a power cut or a SIGKILL would. The steps are counted from 1
// in the order the program takes them: each write or pwrite to a regular file, each
// fsync and each rename. With QVM_CRASH_AT=N the process ends with status
// kCrashedStatus just before step N; a write it ends in puts down the first half of its
// bytes first, as a write cut short does.
#include <dlfcn.h>
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

namespace {

constexpr int kCrashedStatus = 86;

std::atomic<long> steps{0};

long CrashAt() {
    static const long at = [] {
        const char* text = ::getenv("QVM_CRASH_AT");
        return text == nullptr ? 0L : ::strtol(text, nullptr, 10);
    }();
    return at;
}

template <class Fn>
Fn Next(const char* name) {
    return reinterpret_cast<Fn>(::dlsym(RTLD_NEXT, name));
}

bool RegularFile(int fd) {
    struct stat st {};
    return ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

// True when this step is the one to die at.
bool Step() {
    return ++steps == CrashAt();
}

}  // namespace

extern "C" {

ssize_t write(int fd, const void* buf, size_t n) {
    static const auto real = Next<ssize_t (*)(int, const void*, size_t)>("write");
    if (RegularFile(fd) && Step()) {
        real(fd, buf, n / 2);
        ::_exit(kCrashedStatus);
    }
    return real(fd, buf, n);
}

ssize_t pwrite64(int fd, const void* buf, size_t n, off64_t at) {
    static const auto real = Next<ssize_t (*)(int, const void*, size_t, off64_t)>("pwrite64");
    if (RegularFile(fd) && Step()) {
        real(fd, buf, n / 2, at);
        ::_exit(kCrashedStatus);
    }
    return real(fd, buf, n, at);
}

ssize_t pwrite(int fd, const void* buf, size_t n, off_t at) {
    return pwrite64(fd, buf, n, at);
}

int fsync(int fd) {
    static const auto real = Next<int (*)(int)>("fsync");
    if (Step()) ::_exit(kCrashedStatus);
    return real(fd);
}

int rename(const char* from, const char* to) {
    static const auto real = Next<int (*)(const char*, const char*)>("rename");
    if (Step()) ::_exit(kCrashedStatus);
    return real(from, to);
}

int renameat2(int fromDir, const char* from, int toDir, const char* to, unsigned flags) {
    static const auto real =
        Next<int (*)(int, const char*, int, const char*, unsigned)>("renameat2");
    if (Step()) ::_exit(kCrashedStatus);
    return real(fromDir, from, toDir, to, flags);
}

}  // extern "C"
