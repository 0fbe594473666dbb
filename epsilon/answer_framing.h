// Reassembles one answer of a Zoderiv car's control channel from the TCP reads that carry it.
//
// An answer on the wire (requests go the other way as bare JSON text, with no framing at all):
//
//   offset  size  field
//   ------  ----  -------------------------------------------------------------------------
//        0     4  N: unsigned 32-bit, big-endian; the length of the text that follows,
//                 1 .. kMaxTextLength
//        4     N  JSON text of one object: "resp_status", "tag" and the command's members
//
//   +---------+---------+---------+---------+------------------ ... ----+
//   | N >> 24 | N >> 16 | N >> 8  |    N    |  JSON text, N bytes        |
//   +---------+---------+---------+---------+------------------ ... ----+
//   |<-------- first read: at least these four bytes -------->|
//
// The car writes the length field in one piece with its answer, so the first read of an answer
// must hold all four bytes; a shorter one fails the exchange. The text may then be spread over
// any number of reads. Exactly N bytes are taken: bytes after them in the same read belong to
// no answer of this exchange and are dropped, and nothing after completion is looked at.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class AnswerFraming {
public:
    static constexpr size_t kLengthFieldSize = 4;
    // Far above any answer a car gives; a larger N is a broken or hostile peer, and collecting
    // it would let the peer make the client buffer without limit.
    static constexpr uint32_t kMaxTextLength = 1u << 20;

    enum class Progress { NeedMore, Complete, Failed };

    // Takes the next read of the answer. Once Complete or Failed, further reads change nothing.
    Progress feed(const uint8_t* data, size_t size);
    Progress feed(const std::vector<uint8_t>& read) { return feed(read.data(), read.size()); }

    Progress progress() const { return progress_; }
    // Once Complete: exactly the N bytes the length field announced.
    const std::vector<uint8_t>& text() const { return text_; }

private:
    Progress progress_ = Progress::NeedMore;
    bool lengthRead_ = false;
    uint32_t length_ = 0;
    std::vector<uint8_t> text_;
};
