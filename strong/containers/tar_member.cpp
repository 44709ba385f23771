#include "tar_member.h"

#include "framing.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

namespace strong::tar {
namespace {

using framing::between;

struct Owner {
    uint32_t uid, gid;
    std::string user, group;
};

// Who owns the files people pack: the first users of a Linux or macOS machine, now and then
// root; each with the group such systems give them.
Owner plausibleOwner() {
    static constexpr const char *kUsers[] = {"alex",  "anna", "ben",   "chris", "daniel", "david",
                                             "emma",  "eric", "julia", "kevin", "laura",  "mark",
                                             "maria", "mike", "nina",  "paul",  "sarah",  "tom",
                                             "user",  "pi",   "admin", "john",  "lisa",   "peter"};
    const std::string user = kUsers[between(0, std::size(kUsers) - 1)];
    switch (between(0, 9)) {
    case 0:
        return {0, 0, "root", "root"};
    case 1: // macOS
        return {between(501, 503), 20, user, "staff"};
    case 2:
        return {between(1000, 1003), 100, user, "users"};
    default: {
        const uint32_t id = between(0, 2) ? 1000 : between(1001, 1004);
        return {id, id, user, user};
    }
    }
}

void octalField(uint8_t *field, size_t length, uint64_t value) {
    // GNU tar: zero-padded digits filling the field but for a closing NUL.
    char text[24];
    std::snprintf(text, sizeof text, "%0*llo", int(length - 1),
                  static_cast<unsigned long long>(value));
    std::memcpy(field, text, length - 1);
    field[length - 1] = 0;
}

void textField(uint8_t *field, size_t length, const std::string &s) {
    std::memcpy(field, s.data(), std::min(s.size(), length - 1));
}

// One header block: name, mode, owner, size, time, type; checksum last.
std::array<uint8_t, kBlock> header(const std::string &name, uint32_t mode, const Owner &owner,
                                   uint64_t size, int64_t mtime, char type) {
    std::array<uint8_t, kBlock> h{};
    textField(&h[0], 100, name);
    octalField(&h[100], 8, mode);
    octalField(&h[108], 8, owner.uid);
    octalField(&h[116], 8, owner.gid);
    sizeField(size, &h[124]);
    octalField(&h[136], 12, uint64_t(mtime));
    h[156] = uint8_t(type);
    std::memcpy(&h[257], "ustar  ", 8); // GNU's magic and version, with its NUL
    textField(&h[265], 32, owner.user);
    textField(&h[297], 32, owner.group);
    std::memset(&h[148], ' ', 8);
    uint32_t sum = 0;
    for (const uint8_t b : h)
        sum += b;
    char text[8];
    std::snprintf(text, sizeof text, "%06o", sum);
    std::memcpy(&h[148], text, 6);
    h[154] = 0;
    h[155] = ' ';
    return h;
}

std::string stem(const std::string &name) {
    return name.substr(0, name.rfind('.'));
}

bool zeros(const uint8_t *data, size_t size) {
    return std::all_of(data, data + size, [](uint8_t b) { return b == 0; });
}

// A header's fields checked: GNU or POSIX magic, the checksum (unsigned, or signed as old tars
// made it), a name, a size.
bool parseHeader(const uint8_t *h, char &type, uint64_t &size) {
    if (std::memcmp(h + 257, "ustar  ", 8) != 0 && std::memcmp(h + 257,
                                                               "ustar\0"
                                                               "00",
                                                               8) != 0)
        return false;
    uint64_t stored = 0;
    if (!numericField(h + 148, 8, stored) || h[0] == 0)
        return false;
    int64_t unsignedSum = 0, signedSum = 0;
    for (size_t i = 0; i < kBlock; ++i) {
        const uint8_t b = (i >= 148 && i < 156) ? uint8_t(' ') : h[i];
        unsignedSum += b;
        signedSum += int8_t(b);
    }
    if (int64_t(stored) != unsignedSum && int64_t(stored) != signedSum)
        return false;
    type = char(h[156]);
    return numericField(h + 124, 12, size);
}

class MemberReader : public BodyReader {
  public:
    MemberReader(std::unique_ptr<Source> source, uint64_t size)
        : m_source(std::move(source)), m_left(size), m_padding((kBlock - size % kBlock) % kBlock) {}

    int64_t read(uint8_t *buffer, size_t size) override {
        if (m_state == State::content && m_left) {
            const int64_t n = m_source->read(buffer, size_t(std::min<uint64_t>(size, m_left)));
            if (n <= 0)
                return n < 0 ? n : kBodyMalformed; // the data ended inside the content
            m_left -= uint64_t(n);
            return n;
        }
        if (m_state == State::content)
            m_state = checkTail() ? State::done : State::broken;
        return m_state == State::done ? 0 : kBodyMalformed;
    }

  private:
    enum class State { content, done, broken };

    // Zeros to a whole block, at least two more blocks of them, a whole number of blocks in
    // all, no more than kMaxTail; then the compressed data's own end.
    bool checkTail() {
        std::array<uint8_t, 16384> buffer;
        uint64_t total = 0;
        for (;;) {
            const int64_t n = m_source->read(buffer.data(), buffer.size());
            if (n < 0)
                return false;
            if (n == 0)
                break;
            total += uint64_t(n);
            if (total > m_padding + kMaxTail || !zeros(buffer.data(), size_t(n)))
                return false;
        }
        return total >= m_padding + 2 * kBlock && (total - m_padding) % kBlock == 0;
    }

    std::unique_ptr<Source> m_source;
    uint64_t m_left;
    uint64_t m_padding;
    State m_state = State::content;
};

bool readBlock(Source &source, uint8_t *block) {
    size_t done = 0;
    while (done < kBlock) {
        const int64_t n = source.read(block + done, kBlock - done);
        if (n <= 0)
            return false;
        done += size_t(n);
    }
    return true;
}

} // namespace

void sizeField(uint64_t size, uint8_t field[12]) {
    if (size < (uint64_t(1) << 33)) {
        octalField(field, 12, size);
        return;
    }
    std::memset(field, 0, 12);
    field[0] = 0x80;
    for (int i = 0; i < 8; ++i)
        field[11 - i] = uint8_t(size >> (8 * i));
}

bool numericField(const uint8_t *field, size_t length, uint64_t &value) {
    value = 0;
    if (field[0] == 0x80) { // base-256, positive
        for (size_t i = 1; i < length; ++i) {
            if (value >> 54)
                return false; // past 2^62
            value = value << 8 | field[i];
        }
        return value <= (uint64_t(1) << 62);
    }
    size_t i = 0;
    while (i < length && field[i] == ' ')
        ++i;
    size_t digits = 0;
    for (; i < length && field[i] >= '0' && field[i] <= '7'; ++i, ++digits)
        value = value << 3 | uint64_t(field[i] - '0'); // at most 12 digits: 36 bits
    if (digits == 0)
        return false;
    for (; i < length; ++i) // what ends the digits: NULs or spaces only
        if (field[i] != 0 && field[i] != ' ')
            return false;
    return true;
}

Layout layout(uint64_t bodySize) {
    Layout out;
    const Owner owner = plausibleOwner();
    const int64_t mtime = framing::plausibleTime();
    std::string name = framing::plausibleName();
    const uint32_t mode = between(0, 3) ? 0644 : 0600;
    if (between(0, 2) == 0) { // packed with the folder it was in, which tar lists first
        const std::string folder = stem(framing::plausibleName()) + "/";
        const int64_t folderTime = std::min<int64_t>(mtime + between(0, 86400), std::time(nullptr));
        const auto entry = header(folder, mode == 0600 ? 0700 : 0755, owner, 0, folderTime, '5');
        out.head.insert(out.head.end(), entry.begin(), entry.end());
        name = folder + name;
        out.mtime = folderTime;
    }
    const auto member = header(name, mode, owner, bodySize, mtime, '0');
    out.head.insert(out.head.end(), member.begin(), member.end());
    out.mtime = std::max(out.mtime, mtime);
    const uint64_t padding = (kBlock - bodySize % kBlock) % kBlock;
    const uint64_t end = out.head.size() + bodySize + padding + 2 * kBlock;
    out.tailZeros = padding + 2 * kBlock + (kRecord - end % kRecord) % kRecord;
    return out;
}

std::unique_ptr<BodyReader> openMember(std::unique_ptr<Source> source) {
    if (!source)
        return nullptr;
    std::array<uint8_t, kBlock> block;
    char type = 0;
    uint64_t size = 0;
    if (!readBlock(*source, block.data()) || !parseHeader(block.data(), type, size))
        return nullptr;
    if (type == '5') { // the member's folder first: empty, the member inside it
        const std::string folder(reinterpret_cast<const char *>(block.data()),
                                 strnlen(reinterpret_cast<const char *>(block.data()), 100));
        if (size != 0 || folder.back() != '/' || !readBlock(*source, block.data()) ||
            !parseHeader(block.data(), type, size) ||
            std::memcmp(block.data(), folder.data(), folder.size()) != 0)
            return nullptr;
    }
    if (type != '0' && type != 0)
        return nullptr;
    return std::make_unique<MemberReader>(std::move(source), size);
}

} // namespace strong::tar
