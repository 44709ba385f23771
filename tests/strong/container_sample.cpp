// container_sample KIND BODY-BYTES OUT: writes a container of the kind holding that many random
// body bytes, straight to a file (so that containers past 4 GiB can be tried), to look at with
// the formats' own tools.
#include "containers.h"
#include "kind_names.h"

#include <sodium.h>

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

int main(int argc, char **argv) {
    if (argc != 4 || sodium_init() < 0) {
        std::fprintf(stderr, "usage: container_sample KIND BODY-BYTES OUT\n");
        return 2;
    }
    const auto kind = tolvex::parseKind(argv[1]);
    if (!kind)
        return 2;
    const uint64_t size = std::stoull(argv[2]);
    const int fd = ::open(argv[3], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return 1;
    off_t end = 0;
    const strong::ContainerOutput output{
        [&](const uint8_t *data, size_t n) {
            const bool ok = ::pwrite(fd, data, n, end) == ssize_t(n);
            end += off_t(n);
            return ok;
        },
        [&](uint64_t offset, const uint8_t *data, size_t n) {
            return ::pwrite(fd, data, n, off_t(offset)) == ssize_t(n);
        }};
    const strong::Container &container = strong::containerFor(*kind);
    if (!container.create || size > container.maxBody)
        return 1;
    auto writer = container.create(output, size);
    std::vector<uint8_t> piece(1 << 20);
    for (uint64_t done = 0; writer && done < size;) {
        const size_t n = size_t(std::min<uint64_t>(piece.size(), size - done));
        randombytes_buf(piece.data(), n);
        if (!writer->put(piece.data(), n))
            return 1;
        done += n;
    }
    return writer && writer->finish() && ::close(fd) == 0 ? 0 : 1;
}
