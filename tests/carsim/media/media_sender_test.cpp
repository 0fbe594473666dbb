#include <cstring>

#include <gtest/gtest.h>

#include "carsim/media/media_sender.h"
#include "carsim/probe/car_client.h"

namespace carsim {
namespace {

sockaddr_storage loopback(int fd) {
    sockaddr_storage address{};
    auto in = carclient::ipv4("127.0.0.1", carclient::localPort(fd));
    std::memcpy(&address, &in, sizeof in);
    return address;
}

// Streaming and key-frame requests are exercised end to end; here a source that cannot open.
TEST(MediaSender, AnInputFileThatCannotOpenFailsTheStartWithAnError) {
    carclient::Fd car = carclient::udpSocket("127.0.0.1"),
                  client = carclient::udpSocket("127.0.0.1");
    MediaOptions options;
    options.inputFile = "/nonexistent/carsim.h264";
    MediaSender broken(options);
    EXPECT_FALSE(broken.start(car.get(), loopback(client.get())));
    EXPECT_FALSE(broken.running());
    EXPECT_FALSE(broken.error().empty());
    broken.stop();
}

} // namespace
} // namespace carsim
