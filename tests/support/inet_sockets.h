// The IPv4 and IPv6 sockets this process holds: its descriptors' socket inodes looked up in
// the kernel's socket tables. A program that must not touch the network shows none.
#pragma once

#include <dirent.h>
#include <unistd.h>

#include <cstddef>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

namespace qvm::test {

inline std::set<std::string> SocketInodesOfThisProcess() {
    std::set<std::string> inodes;
    DIR* dir = ::opendir("/proc/self/fd");
    if (dir == nullptr) return inodes;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string path = std::string("/proc/self/fd/") + entry->d_name;
        char target[128] = {};
        const ssize_t n = ::readlink(path.c_str(), target, sizeof target - 1);
        const std::string link(target, n > 0 ? static_cast<std::size_t>(n) : 0);
        // "socket:[12345]"
        if (link.rfind("socket:[", 0) == 0) inodes.insert(link.substr(8, link.size() - 9));
    }
    ::closedir(dir);
    return inodes;
}

// How many of this process's sockets are TCP, UDP or raw sockets of either IP family.
inline std::size_t InetSocketsOfThisProcess() {
    const std::set<std::string> mine = SocketInodesOfThisProcess();
    std::size_t count = 0;
    for (const char* table : {"tcp", "tcp6", "udp", "udp6", "raw", "raw6"}) {
        std::ifstream in(std::string("/proc/self/net/") + table);
        std::string line;
        std::getline(in, line);  // the heading
        while (std::getline(in, line)) {
            // sl local rem st tx:rx tr:when retrnsmt uid timeout inode ...
            std::istringstream fields(line);
            std::string field;
            for (int i = 0; i < 10 && fields >> field; ++i) {
            }
            if (mine.count(field) != 0) ++count;
        }
    }
    return count;
}

}  // namespace qvm::test
