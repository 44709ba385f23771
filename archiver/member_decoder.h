// One member's data decoded straight from the archive with liblhasa's decoder for its method.
// The stored bytes are read where the scan found them, and the decoder is told the length the
// header gives, a 64-bit one included: liblhasa's own reader would stop at its low 32 bits, and
// would hand out only the data fork of a MacBinary member, while the CRC covers all of it.
#pragma once

#include "archive_reader.h"

#include <cstddef>
#include <cstdint>
#include <memory>

extern "C" {
struct _LHADecoder;
}

namespace unlha {

class MemberDecoder {
  public:
    // Nothing when the member's method has no decoder or its length does not fit in memory's
    // counters.
    static std::unique_ptr<MemberDecoder> open(int archive, const ScannedMember &member);
    MemberDecoder(const MemberDecoder &) = delete;
    MemberDecoder &operator=(const MemberDecoder &) = delete;
    ~MemberDecoder();

    // Fills `buffer` with decoded bytes; fewer only at the end of the data (or where the stored
    // bytes run out or cannot be read).
    size_t read(uint8_t *buffer, size_t length);
    // Whether reading the archive failed (rather than the data ending).
    bool readFailed() const { return m_readFailed; }

  private:
    MemberDecoder(int archive, uint64_t start, uint64_t end);
    static size_t supply(void *buffer, size_t length, void *self);

    int m_archive;
    uint64_t m_next;
    uint64_t m_end;
    bool m_readFailed = false;
    _LHADecoder *m_decoder = nullptr;
};

} // namespace unlha
