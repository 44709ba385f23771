// Writes the header template file: the disguise segments back to back in kind order, every byte
// masked. Usage: make_templates OUTPUT
#include "layout.h"
#include "segments.h"

#include <cstdio>
#include <exception>
#include <iterator>
#include <vector>

// The generator writes a segment for every row of the table and nothing else.
static_assert(std::size(templates::kBuilders) == tolvex::kKindCount,
              "every disguise kind needs its builder in templates::kBuilders");

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT\n", argv[0]);
        return 2;
    }
    std::vector<uint8_t> file;
    for (int kind = 1; kind < tolvex::kKindCount; ++kind) {
        const tolvex::DisguiseKind &d = tolvex::disguiseFor(kind);
        templates::Bytes segment;
        try {
            segment = templates::kBuilders[kind]();
        } catch (const std::exception &e) {
            std::fprintf(stderr, "segment of kind %d (%s): %s\n", kind, d.extension, e.what());
            return 1;
        }
        // A wrong length would shift every later segment; a wrong magic would make the kind
        // unrecognisable. Either is a build error, not a file to ship.
        if (file.size() != d.first || segment.size() != d.length ||
            tolvex::headerLengthFor(segment) != d.length) {
            std::fprintf(stderr, "segment of kind %d (%s) is malformed\n", kind, d.extension);
            return 1;
        }
        for (uint8_t b : segment)
            file.push_back(b ^ tolvex::kHeaderMask);
    }
    std::FILE *out = std::fopen(argv[1], "wb");
    if (!out) {
        std::perror(argv[1]);
        return 1;
    }
    const bool ok = std::fwrite(file.data(), 1, file.size(), out) == file.size();
    if (std::fclose(out) != 0 || !ok) {
        std::perror(argv[1]);
        std::remove(argv[1]);
        return 1;
    }
    return 0;
}
