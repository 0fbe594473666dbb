// The module never starts Winsock: its host process has done so before it loads the module, and
// undoes it after unloading. A test program stands in for that host, around all of its tests.
#include <cstdio>
#include <winsock2.h>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    WSADATA data;
    if (const int failure = ::WSAStartup(MAKEWORD(2, 2), &data); failure != 0) {
        std::fprintf(stderr, "WSAStartup failed with %d\n", failure);
        return 1;
    }
    const int result = RUN_ALL_TESTS();
    ::WSACleanup();
    return result;
}
