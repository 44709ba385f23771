#include "member_decoder.h"

#include "platform.h"
#include "transfers.h"

#include <algorithm>
#include <lhasa.h>

namespace unlha {

MemberDecoder::MemberDecoder(int archive, uint64_t start, uint64_t end)
    : m_archive(archive), m_next(start), m_end(end) {}

std::unique_ptr<MemberDecoder> MemberDecoder::open(int archive, const ScannedMember &member) {
    LHADecoderType *type = lha_decoder_for_name(const_cast<char *>(member.method.c_str()));
    if (!type || member.length > SIZE_MAX || member.dataEnd < member.dataStart)
        return nullptr;
    std::unique_ptr<MemberDecoder> decoder(
        new MemberDecoder(archive, member.dataStart, member.dataEnd));
    decoder->m_decoder =
        lha_decoder_new(type, &MemberDecoder::supply, decoder.get(), size_t(member.length));
    if (!decoder->m_decoder)
        return nullptr;
    return decoder;
}

MemberDecoder::~MemberDecoder() {
    if (m_decoder)
        lha_decoder_free(m_decoder);
}

size_t MemberDecoder::supply(void *buffer, size_t length, void *self) {
    auto *d = static_cast<MemberDecoder *>(self);
    const size_t want = size_t(std::min<uint64_t>(length, d->m_end - d->m_next));
    if (want == 0)
        return 0;
    const int64_t got = readAt(d->m_archive, d->m_next, buffer, want);
    if (got <= 0) {
        d->m_readFailed = got < 0;
        return 0;
    }
    d->m_next += uint64_t(got);
    return size_t(got);
}

size_t MemberDecoder::read(uint8_t *buffer, size_t length) {
    size_t filled = 0;
    while (filled < length) {
        const size_t n = lha_decoder_read(m_decoder, buffer + filled, length - filled);
        if (n == 0)
            break;
        filled += n;
    }
    return filled;
}

} // namespace unlha
