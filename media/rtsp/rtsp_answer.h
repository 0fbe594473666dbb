// Judging the car's RTSP answers. Each answer is the bytes of one TCP read, taken as they are:
// only the success status is looked for, and only the session identifier is taken out.
//
//   RTSP/1.0 200 OK CR LF                 <- looked for anywhere in the read, not only at its
//   CSeq: 4 CR LF                            start; two answers in one read hold it twice
//   Transport: ... CR LF
//   Session: 1A2B3C4D;timeout=60 CR LF    <- the identifier: everything after "Session: " up
//   CR LF                                    to CR LF, parameters included
#pragma once

#include <string>
#include <string_view>

inline constexpr std::string_view kRtspOkStatus = "RTSP/1.0 200 OK";

// Non-overlapping occurrences of the success status in one read.
int rtspOkCount(std::string_view answer);

// An answer is good when the success status occurs anywhere in it.
bool isRtspOk(std::string_view answer);

// The text after the first "Session: " up to the next CR LF, or to the end of the answer when
// none follows; empty when the header is missing. Kept whole: a ";timeout=" parameter stays
// part of it and goes back to the car in PLAY and TEARDOWN.
std::string rtspSessionTag(const std::string& answer);
