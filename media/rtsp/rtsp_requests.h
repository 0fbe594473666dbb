// The request texts of the RTSP dialogue, stored as templates and sent byte for byte. The car's
// server is picky about them, so nothing here is composed from parts: each text is one literal
// whose length is part of the contract.
//
//   <METHOD> SP rtsp://192.168.99.1<path> SP RTSP/1.0 CR LF
//   User-Agent: LIVE555 Streaming Media v2012.02.04 CR LF
//   <header lines of the method, in order> CR LF ...
//   CR LF
//
// The URI names the car's fixed access-point address whatever address discovery found, and
// carries no port. The sequence numbers are constants; OPTIONS goes out twice with "CSeq: 2".
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

inline constexpr std::string_view kRtspOptionsTemplate =
    "OPTIONS rtsp://192.168.99.1/media/stream2 RTSP/1.0\r\n"
    "User-Agent: LIVE555 Streaming Media v2012.02.04\r\n"
    "CSeq: 2\r\n"
    "\r\n";

inline constexpr std::string_view kRtspDescribeTemplate =
    "DESCRIBE rtsp://192.168.99.1/media/stream2 RTSP/1.0\r\n"
    "User-Agent: LIVE555 Streaming Media v2012.02.04\r\n"
    "CSeq: 3\r\n"
    "Accept: application/sdp\r\n"
    "\r\n";

inline constexpr std::string_view kRtspSetupTemplate =
    "SETUP rtsp://192.168.99.1/media/stream2/stream=0 RTSP/1.0\r\n"
    "User-Agent: LIVE555 Streaming Media v2012.02.04\r\n"
    "CSeq: 4\r\n"
    "Transport: RTP/AVP;unicast;{{fecEnable}}client_port={{rtpPort}}-{{rtcpPort}}\r\n"
    "\r\n";

// The Session line comes before CSeq in PLAY and TEARDOWN; their paths end with a slash.
inline constexpr std::string_view kRtspPlayTemplate =
    "PLAY rtsp://192.168.99.1/media/stream2/ RTSP/1.0\r\n"
    "User-Agent: LIVE555 Streaming Media v2012.02.04\r\n"
    "Session: {{rtpSessionTag}}\r\n"
    "CSeq: 5\r\n"
    "Range: npt=0.000-\r\n"
    "\r\n";

inline constexpr std::string_view kRtspTeardownTemplate =
    "TEARDOWN rtsp://192.168.99.1/media/stream2/ RTSP/1.0\r\n"
    "User-Agent: LIVE555 Streaming Media v2012.02.04\r\n"
    "Session: {{rtpSessionTag}}\r\n"
    "CSeq: 6\r\n"
    "\r\n";

// The stream is always asked for with forward error correction.
inline constexpr std::string_view kRtspFecEnable = "fec;";

std::string rtspOptionsRequest();
std::string rtspDescribeRequest();
// The bound ports of the two media sockets, in decimal (65535 stands for an unknown one).
std::string rtspSetupRequest(uint16_t rtpPort, uint16_t rtcpPort);
// The session identifier goes in unchanged, whatever the car put into it.
std::string rtspPlayRequest(const std::string& sessionTag);
std::string rtspTeardownRequest(const std::string& sessionTag);
