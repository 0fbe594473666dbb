#include "net/byte_reader.h"

ByteReader::ByteReader(const std::vector<uint8_t>& bytes)
    : cursor_(bytes.data()), end_(bytes.data() + bytes.size()) {}

ByteReader::ByteReader(const uint8_t* bytes, size_t length)
    : cursor_(bytes), end_(bytes + length) {}

bool ByteReader::take(size_t count) {
    if (cursor_ > end_ || static_cast<size_t>(end_ - cursor_) < count) {
        failed_ = true;
        return false;
    }
    return true;
}

bool ByteReader::readU16(uint16_t& value) {
    if (!take(2)) {
        return false;
    }
    value = static_cast<uint16_t>((cursor_[0] << 8) | cursor_[1]);
    cursor_ += 2;
    return true;
}

bool ByteReader::readU32(uint32_t& value) {
    if (!take(4)) {
        return false;
    }
    value = (uint32_t{cursor_[0]} << 24) | (uint32_t{cursor_[1]} << 16) |
            (uint32_t{cursor_[2]} << 8) | uint32_t{cursor_[3]};
    cursor_ += 4;
    return true;
}

bool ByteReader::readBytes(size_t count, std::vector<uint8_t>& out) {
    if (!take(count)) {
        return false;
    }
    out.assign(cursor_, cursor_ + count);
    cursor_ += count;
    return true;
}

int ByteReader::remaining() {
    if (cursor_ > end_) {
        failed_ = true;
        return 0;
    }
    return static_cast<int>(end_ - cursor_);
}
