// Turns the video datagrams of one car into access units, for both car families.
//
// Every datagram carries one media packet (a piece of one frame, or a parity block). Packets are
// collected per frame number in a table of frames being put together; a frame completes from its
// data packets or is repaired from enough data and parity packets; a frame that cannot be
// completed in time is given up and the car asked for a key frame; complete frames leave the
// table strictly in ascending frame-number order and are cut into NAL units, which become access
// units for the sink.
//
// The families differ only in when they give up a frame: a Sonix receiver gives up an
// incomplete frame once a later frame is complete; a Zoderiv receiver as soon as a packet of a
// later frame arrives and the frame cannot be repaired. Sonix slices also carry a telemetry
// trailer.
//
// Thread safety: one thread feeds packets (the poll thread for Sonix, the media thread for
// Zoderiv); reset() may come from another thread (a stream start). Both take the receiver's
// lock, so a reset never lands in the middle of a packet. The sink is called with the lock held.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "media/fec/fec_frame.h"
#include "media/h264/nal_units.h"
#include "media/receiver/access_unit_assembler.h"
#include "media/receiver/media_sink.h"
#include "net/net_manager.h"

class MediaReceiver {
public:
    enum class Family { Sonix, Zoderiv };

    // Frame numbers are 16-bit and wrap; a packet this far below the last delivered frame is
    // taken as the stream having wrapped around, not as a late packet.
    static constexpr int kWrapDistance = 60;
    // Frames in assembly at once. A car has two or three; more are the remains of a burst that
    // nothing completed, or datagrams from someone else, and the table must not grow without
    // bound on them.
    static constexpr size_t kMaxFramesInAssembly = 128;

    MediaReceiver(Family family, MediaSink& sink);
    MediaReceiver(const MediaReceiver&) = delete;
    MediaReceiver& operator=(const MediaReceiver&) = delete;

    // Before each stream: forgets what was delivered and the parameter sets. Frames still in
    // assembly stay until they are delivered, given up or evicted.
    void reset();
    // One datagram of the media socket; malformed ones are dropped without changing anything.
    void onPacket(const NetManager::NetPacket& packet);

    size_t framesInAssembly() const;

private:
    // Parses and files the packet; false when the parse or the late filter dropped it.
    bool intake(const NetManager::NetPacket& datagram, int& frameNumber);
    void makeRoomForFrame(int frameNumber);
    // Sonix: repair what can be repaired of the frames before this packet's, then give up the
    // incomplete frames in front of the first complete one.
    void sonixPasses(int frameNumber);
    // Zoderiv: every incomplete frame before this packet's is repaired now or given up.
    void zoderivPass(int frameNumber);
    void giveUp(std::map<int, std::unique_ptr<FecFrame>>::iterator frame);
    void deliverCompleteFrames(int64_t timestamp);

    const Family family;
    MediaSink& sink;
    mutable std::mutex mutex;
    // Guarded by mutex:
    std::map<int, std::unique_ptr<FecFrame>> fecFrames;
    int lastDeliveredFrame = 0;
    int lastSeenFrame = 0;
    int lastPacketIndex = -1;
    int frameCounter = -1;
    AccessUnitAssembler assembler;
    std::vector<NalSpan> nals; // reused for each frame
};
