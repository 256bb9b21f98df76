// Makes a tile tree of small files quickly, for the listing benchmark:
//   folder_tree_maker DIR COUNT [xyz|plates]
// xyz: {z}/{x}/{y}.png, whole zoom levels from 0 up, the last one filled
// column by column until COUNT files; plates: the same tiles as t/q/r/s.jpg.
// Each file holds a few bytes, so the tree costs inodes, not disk space.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

bool WriteSmallFile(int dirFd, const char* name) {
    const int fd = openat(dirFd, name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const bool written = write(fd, "tile", 4) == 4;
    return close(fd) == 0 && written;
}

int MakeDir(int parentFd, const char* name) {
    if (mkdirat(parentFd, name, 0755) != 0 && errno != EEXIST)
        return -1;
    return openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

// The plate tree's folder of a tile and its file name, as path text.
std::string PlatePath(uint32_t z, uint32_t x, uint32_t y) {
    static constexpr char kLetters[4] = {'q', 'r', 't', 's'};
    std::string path = "t";
    for (uint32_t i = 0; i < z; ++i) {
        const uint32_t shift = z - 1 - i;
        path += '/';
        path += kLetters[((x >> shift) & 1) | ((y >> shift) & 1) << 1];
    }
    return path + ".jpg";
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s DIR COUNT [xyz|plates]\n", argv[0]);
        return 2;
    }
    const uint64_t count = std::strtoull(argv[2], nullptr, 10);
    const bool plates = argc > 3 && std::strcmp(argv[3], "plates") == 0;
    const int base = MakeDir(AT_FDCWD, argv[1]);
    if (base < 0) {
        std::perror(argv[1]);
        return 1;
    }
    uint64_t made = 0;
    char name[32];
    for (uint32_t z = 0; made < count && z <= 20; ++z) {
        std::snprintf(name, sizeof name, "%u", z);
        const int zoomFd = plates ? -1 : MakeDir(base, name);
        for (uint32_t x = 0; made < count && x < (1u << z); ++x) {
            std::snprintf(name, sizeof name, "%u", x);
            const int columnFd = plates ? -1 : MakeDir(zoomFd, name);
            for (uint32_t y = 0; made < count && y < (1u << z); ++y, ++made) {
                bool ok;
                if (plates) {
                    const std::string path = PlatePath(z, x, y);
                    // Folders first: every prefix of the path.
                    for (size_t slash = path.find('/'); slash != std::string::npos; slash = path.find('/', slash + 1))
                        if (mkdirat(base, path.substr(0, slash).c_str(), 0755) != 0 && errno != EEXIST)
                            return std::perror(path.c_str()), 1;
                    ok = WriteSmallFile(base, path.c_str());
                } else {
                    std::snprintf(name, sizeof name, "%u.png", y);
                    ok = columnFd >= 0 && WriteSmallFile(columnFd, name);
                }
                if (!ok) {
                    std::perror("write");
                    return 1;
                }
            }
            if (columnFd >= 0)
                close(columnFd);
        }
        if (zoomFd >= 0)
            close(zoomFd);
    }
    close(base);
    std::printf("%llu files\n", static_cast<unsigned long long>(made));
    return 0;
}
