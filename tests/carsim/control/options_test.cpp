// The simulator's command line: the tests and scripts depend on values being refused loudly
// rather than taken half-read.
#include <gtest/gtest.h>

#include "carsim/options.h"

namespace carsim {
namespace {

// Parses the words; the error text, or "" when they were taken.
std::string errorOf(std::vector<std::string> words, Options& options) {
    words.insert(words.begin(), "carsim");
    std::vector<char*> argv;
    for (std::string& word : words) {
        argv.push_back(word.data());
    }
    std::string error;
    bool help = false;
    return parseOptions(static_cast<int>(argv.size()), argv.data(), options, error, help) ? ""
                                                                                          : error;
}

TEST(CarsimOptions, BadValuesAndUnknownOptionsAreRefusedWithTheirName) {
    const std::pair<std::vector<std::string>, std::string> refused[] = {
        {{"--bogus"}, "unknown option: --bogus"},
        {{"--gop"}, "--gop needs a value"},
        {{"--family", "tesla"}, "bad value for --family: tesla"},
        {{"--name", std::string(33, 'n')}, "bad value for --name: " + std::string(33, 'n')},
        {{"--shard-size", "2033"}, "bad value for --shard-size: 2033"},
        {{"--start-frame", "65536"}, "bad value for --start-frame: 65536"},
        {{"--discovery-kind", "256"}, "bad value for --discovery-kind: 256"},
        {{"--vanish", "5"}, "bad value for --vanish: 5"},
        {{"--loss", "-1"}, "bad value for --loss: -1"},
        {{"--hw-type", "2x"}, "bad value for --hw-type: 2x"},
        {{"--stream-to", "127.0.0.1"}, "bad value for --stream-to: 127.0.0.1"},
    };
    for (const auto& [words, error] : refused) {
        Options options;
        EXPECT_EQ(errorOf(words, options), error);
    }
    Options options;
    ASSERT_EQ(errorOf({"--family", "zoderiv", "--vanish", "0.5:1", "--burst-loss", "4:2",
                       "--shard-size", "2032", "--seed", "9"},
                      options),
              "");
    EXPECT_EQ(options.media.family, Family::Zoderiv);
    EXPECT_EQ(std::make_pair(options.vanishAfterSeconds, options.vanishForSeconds),
              std::make_pair(0.5, 1.0));
    EXPECT_EQ(std::make_pair(options.media.burstLength, options.media.burstPercent),
              std::make_pair(4, 2.0));
    EXPECT_EQ(options.media.shardSize, 2032);
    EXPECT_EQ(options.media.seed, 9u);
}

} // namespace
} // namespace carsim
