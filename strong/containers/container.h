// A disguise kind's container: the real file of its kind that a strong file is, with the sealed
// body (salt, stream header, metadata and content chunks) held inside its own structure. Each
// kind's container lives in a file of its own here; containers.cpp lists them beside the kinds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

namespace strong {

// Where a container writes: bytes in order, and bytes over ones already written (for a field
// known only once the data behind it has passed, such as a checksum).
struct ContainerOutput {
    std::function<bool(const uint8_t *, size_t)> write;
    std::function<bool(uint64_t offset, const uint8_t *, size_t)> patch;
};

// The file a container is opened from: reads `size` bytes at `offset` as far as the file
// goes (the count, 0 past its end, -1 on a read failure).
struct ContainerInput {
    std::function<int64_t(uint64_t offset, uint8_t *, size_t)> readAt;
    uint64_t size = 0;
};

// Takes the body in order and frames it. The body's total is given when the writer is made,
// and exactly that many bytes arrive through put().
class BodyWriter {
  public:
    virtual ~BodyWriter() = default;
    virtual bool put(const uint8_t *data, size_t size) = 0;
    // Everything after the body: padding the structure needs, trailers, patched fields.
    virtual bool finish() = 0;
};

// What BodyReader::read answers besides a count.
inline constexpr int64_t kBodyReadFailed = -1; // the file could not be read
inline constexpr int64_t kBodyMalformed = -2;  // the structure breaks its format's rules

// Gives back the bytes a container holds where the body goes, in order: the body and then
// whatever padding the structure needed, which the decryption ignores.
class BodyReader {
  public:
    virtual ~BodyReader() = default;
    // The next bytes: a count (0 once the container holds no more), or one of the two above.
    virtual int64_t read(uint8_t *buffer, size_t size) = 0;
};

struct Container {
    int kind = 0;
    // The most body bytes the kind holds: its format's limit, with its own extension where it
    // has one.
    uint64_t maxBody = 0;
    // Writes what comes before the body, generated fresh for this file, and answers the
    // writer that takes the body; null when a write failed.
    std::unique_ptr<BodyWriter> (*create)(const ContainerOutput &output,
                                          uint64_t bodySize) = nullptr;
    // A reader of the body when the file has this kind's structure; null otherwise. Answers
    // quickly for a file of another kind: it looks at the leading bytes first.
    std::unique_ptr<BodyReader> (*open)(const ContainerInput &input) = nullptr;
};

} // namespace strong
