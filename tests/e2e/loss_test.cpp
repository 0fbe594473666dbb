// Lost video datagrams: parity repairs scattered losses without a visible gap; bursts that
// parity cannot repair make the source ask the car for a key frame and carry on from it.
#include <string>
#include <vector>

#include "tests/e2e/e2e_fixture.h"
#include "tests/e2e/wire_log_reader.h"

namespace e2e {
namespace {

struct Family {
    const char* name;
    const char* keyFrameRequest; // the control request that asks for a key frame

    friend void PrintTo(const Family& family, std::ostream* out) { *out << family.name; }
};

class Loss : public EndToEnd, public ::testing::WithParamInterface<Family> {};

TEST_P(Loss, ScatteredLossIsRepairedAndPicturesKeepFlowing) {
    // Every tenth datagram lost, two parity datagrams a frame.
    ASSERT_TRUE(network->addCar(car(GetParam().name, "car1", {"--loss", "10", "--parity", "2"})))
        << network->error();
    const int source = host->createSource();
    ASSERT_GE(source, 0);
    ASSERT_TRUE(waitStreaming(source));

    // Three seconds of rendering. Parity repairs nearly every frame: the source seldom has to
    // ask for a key frame, and pictures keep coming (how many depends on how busy the machine
    // is; a third of the render passes is far below what a repaired stream gives).
    const zeb_canvas_stats start = host->stats(source);
    const int requestsBefore = requestCount(network->wireLog(1), GetParam().keyFrameRequest);
    const uint64_t passes = 3 * Host::kFramesPerSecond;
    ASSERT_TRUE(
        host->waitUntil([&] { return host->stats(source).renders >= start.renders + passes; }));
    const Picture after = host->picture(source);
    const int requests =
        requestCount(network->wireLog(1), GetParam().keyFrameRequest) - requestsBefore;
    EXPECT_LE(requests, 6) << "key-frame requests in three seconds";
    EXPECT_GE(after.stats.uploads - start.uploads, passes / 3)
        << "of " << after.stats.renders - start.renders << " render passes";
    // A frame beyond repair now and then leaves a picture or two with faults until the next
    // key frame.
    EXPECT_TRUE(waitMorePictures(source, 1)) << patternMismatch(host->picture(source));
    EXPECT_EQ(sequenceMismatch(host->log(source), {{connected()}}), "");
}

TEST_P(Loss, BurstsMakeItAskForKeyFramesAndRecover) {
    // Runs of 30 datagrams lost, far beyond what two parity datagrams repair.
    ASSERT_TRUE(network->addCar(car(GetParam().name, "car1", {"--burst-loss", "30:1"})))
        << network->error();
    const int source = host->createSource();
    ASSERT_GE(source, 0);
    ASSERT_TRUE(waitStreaming(source));

    const std::string request = GetParam().keyFrameRequest;
    ASSERT_TRUE(host->waitUntil([&] { return requestCount(network->wireLog(1), request) >= 2; },
                                2 * kBound))
        << "no " << request << " request";
    // Pictures again after the lost frames, whole ones.
    ASSERT_TRUE(waitMorePictures(source, Host::kFramesPerSecond))
        << patternMismatch(host->picture(source));
    EXPECT_EQ(sequenceMismatch(host->log(source), {{connected()}}), "");
}

// What else the network does to datagrams on their way: the same frames twice, frames out of
// order, datagrams from someone else that parse as nothing. None of it may cost a picture its
// content or the session its connection.
struct Transit {
    const char* family;
    const char* keyFrameRequest;
    const char* fault;
    std::vector<std::string> arguments;

    friend void PrintTo(const Transit& t, std::ostream* out) { *out << t.family << " " << t.fault; }
};

class InTransit : public EndToEnd, public ::testing::WithParamInterface<Transit> {};

TEST_P(InTransit, PicturesKeepShowingTheTestPattern) {
    ASSERT_TRUE(network->addCar(car(GetParam().family, "car1", GetParam().arguments)))
        << network->error();
    const int source = host->createSource();
    ASSERT_GE(source, 0);
    ASSERT_TRUE(waitStreaming(source));
    const int requestsBefore = requestCount(network->wireLog(1), GetParam().keyFrameRequest);
    ASSERT_TRUE(waitMorePictures(source, 2 * Host::kFramesPerSecond))
        << patternMismatch(host->picture(source));
    // Every frame arrives whole in the end, so none is given up and no key frame is needed
    // (two allow for a datagram the system itself drops on a very busy machine; a receiver that
    // mistakes these datagrams for losses asks about twice a second).
    EXPECT_LE(requestCount(network->wireLog(1), GetParam().keyFrameRequest) - requestsBefore, 2);
    EXPECT_EQ(sequenceMismatch(host->log(source), {{connected()}}), "");
}

INSTANTIATE_TEST_SUITE_P(
    Fault, InTransit,
    ::testing::ValuesIn(std::vector<Transit>{
        {"sonix", "mendrel_request_keyframe", "duplicated", {"--duplicate", "10"}},
        {"zoderiv", "force_iframe", "duplicated", {"--duplicate", "10"}},
        {"sonix", "mendrel_request_keyframe", "reordered", {"--reorder", "10"}},
        {"zoderiv", "force_iframe", "reordered", {"--reorder", "10"}},
        {"sonix", "mendrel_request_keyframe", "hostile", {"--garbage"}},
        {"zoderiv", "force_iframe", "hostile", {"--garbage"}},
    }),
    [](const auto& info) { return std::string(info.param.family) + "_" + info.param.fault; });

INSTANTIATE_TEST_SUITE_P(Family, Loss,
                         ::testing::Values(Family{"sonix", "mendrel_request_keyframe"},
                                           Family{"zoderiv", "force_iframe"}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace e2e
