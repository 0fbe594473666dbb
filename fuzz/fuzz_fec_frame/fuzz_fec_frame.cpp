// One genuine frame, cut by the simulated car's packetizer, reaches the FEC code in an order
// and with losses, repeats and hostile datagrams the input chooses; frames are collected by
// frame number the way the receiver does (a refused packet discards its frame).
//
// Input: k - 1 (mod 64), m (mod 17), two bytes of shard size (16 + value mod 1500), one byte
// for the length of the last data packet, then one operation per byte:
//   0x00-0x7F  the genuine packet of index op mod (k + m)
//   0x80-0x9F  a recovery pass over every incomplete frame that holds enough packets
//   0xA0-0xBF  a hostile datagram: a length byte, then that many bytes of the input
//   0xC0-0xFF  a genuine packet (next byte) with one byte (next byte) set to a value (next)
// Oracles: a frame made only of genuine packets is delivered byte for byte as sent or not at
// all, and a recovery pass completes it once it holds k of them; a delivered frame has the
// length its header gives; nothing reads or writes outside its buffers (ASan).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <set>

#include "carsim/media/frame_packetizer.h"
#include "media/fec/fec_frame.h"
#include "media/fec/fec_recovery.h"

namespace {

constexpr uint16_t kGenuineNumber = 100;

struct Entry {
    std::unique_ptr<FecFrame> frame;
    bool tainted = false; // holds a packet the car did not send
};

class Receiver {
public:
    Receiver(const std::vector<carsim::Bytes>& genuine, const std::vector<uint8_t>& sent)
        : genuine_(genuine), sent_(sent) {}

    void receive(const uint8_t* bytes, size_t length) {
        std::unique_ptr<FecPacket> packet = parseFecPacket(bytes, length);
        if (!packet || delivered_.count(packet->frameNumber) != 0) {
            return;
        }
        const int number = packet->frameNumber;
        const bool isGenuine =
            number == kGenuineNumber && packet->packetIndex < genuine_.size() &&
            genuine_[packet->packetIndex] == carsim::Bytes(bytes, bytes + length);
        auto found = frames_.find(number);
        if (found == frames_.end()) {
            found = frames_.emplace(number, Entry{std::make_unique<FecFrame>(*packet)}).first;
        }
        switch (addPacket(*found->second.frame, std::move(packet))) {
        case AddResult::refused:
            frames_.erase(found);
            break;
        case AddResult::stored:
            found->second.tainted |= !isGenuine;
            break;
        case AddResult::duplicateIgnored:
            break;
        }
        deliverComplete();
    }

    void recoveryPass() {
        for (auto& [number, entry] : frames_) {
            const FecFrame& frame = *entry.frame;
            if (!frame.complete() && frame.dataReceived + frame.parityReceived >= frame.k) {
                if (!recoverFrame(*entry.frame) && !entry.tainted) {
                    std::abort(); // enough genuine packets always repair a frame
                }
            }
        }
        deliverComplete();
    }

private:
    void deliverComplete() {
        for (auto it = frames_.begin(); it != frames_.end();) {
            if (!it->second.frame->complete()) {
                ++it;
                continue;
            }
            const FecFrame& frame = *it->second.frame;
            if (frame.data.size() != frame.frameLength) {
                std::abort();
            }
            if (!it->second.tainted && (it->first != kGenuineNumber || frame.data != sent_)) {
                std::abort(); // only the car's own packets, yet other bytes than it sent
            }
            delivered_.insert(it->first);
            it = frames_.erase(it);
        }
    }

    const std::vector<carsim::Bytes>& genuine_;
    const std::vector<uint8_t>& sent_;
    std::map<int, Entry> frames_;
    std::set<int> delivered_;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 5) {
        return 0;
    }
    const int k = data[0] % 64 + 1;
    const int m = data[1] % 17;
    const int shard = 16 + ((data[2] << 8) | data[3]) % 1500;
    const size_t lastLength = 1 + data[4] % static_cast<size_t>(shard);
    std::vector<uint8_t> sent(static_cast<size_t>(k - 1) * shard + lastLength);
    for (size_t i = 0; i < sent.size(); ++i) {
        sent[i] = static_cast<uint8_t>((i * 131 + size) >> 3);
    }
    const std::vector<carsim::Bytes> genuine =
        carsim::FramePacketizer(shard, m).packetize(kGenuineNumber, sent);
    if (genuine.size() != static_cast<size_t>(k + m)) {
        return 0;
    }

    Receiver receiver(genuine, sent);
    size_t at = 5;
    while (at < size) {
        const uint8_t op = data[at++];
        if (op < 0x80) {
            const carsim::Bytes& datagram = genuine[op % genuine.size()];
            receiver.receive(datagram.data(), datagram.size());
        } else if (op < 0xA0) {
            receiver.recoveryPass();
        } else if (op < 0xC0) {
            size_t length = 0;
            if (at < size) {
                length = data[at++];
                length = std::min(length, size - at);
            }
            receiver.receive(data + at, length);
            at += length;
        } else if (at + 3 <= size) {
            carsim::Bytes datagram = genuine[data[at] % genuine.size()];
            datagram[data[at + 1] % datagram.size()] = data[at + 2];
            at += 3;
            receiver.receive(datagram.data(), datagram.size());
        }
    }
    receiver.recoveryPass();
    return 0;
}
