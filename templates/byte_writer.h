// Appends fixed-width fields to a growing byte string, and patches fields whose value is known
// only once later parts are written (sizes, offsets, checksums).
#pragma once

#include "segments.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>

namespace templates {

class ByteWriter {
  public:
    size_t size() const { return m_bytes.size(); }
    const Bytes &bytes() const { return m_bytes; }
    Bytes take() { return std::move(m_bytes); }

    ByteWriter &u8(uint32_t v) {
        m_bytes.push_back(uint8_t(v));
        return *this;
    }
    ByteWriter &le16(uint32_t v) { return u8(v).u8(v >> 8); }
    ByteWriter &le32(uint32_t v) { return le16(v).le16(v >> 16); }
    ByteWriter &be16(uint32_t v) { return u8(v >> 8).u8(v); }
    ByteWriter &be32(uint32_t v) { return be16(v >> 16).be16(v); }
    ByteWriter &text(std::string_view s) {
        m_bytes.insert(m_bytes.end(), s.begin(), s.end());
        return *this;
    }
    // The text and then zero bytes up to the field's width (fixed-width name fields).
    ByteWriter &field(std::string_view s, size_t width) {
        text(s.substr(0, width));
        return fill(width - std::min(s.size(), width));
    }
    ByteWriter &append(const Bytes &b) {
        m_bytes.insert(m_bytes.end(), b.begin(), b.end());
        return *this;
    }
    ByteWriter &fill(size_t count, uint8_t value = 0) {
        m_bytes.insert(m_bytes.end(), count, value);
        return *this;
    }

    void patchLe16(size_t at, uint32_t v) {
        m_bytes.at(at) = uint8_t(v);
        m_bytes.at(at + 1) = uint8_t(v >> 8);
    }
    void patchLe32(size_t at, uint32_t v) {
        patchLe16(at, v);
        patchLe16(at + 2, v >> 16);
    }
    void patchBe32(size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            m_bytes.at(at + i) = uint8_t(v >> (24 - 8 * i));
    }

  private:
    Bytes m_bytes;
};

} // namespace templates
