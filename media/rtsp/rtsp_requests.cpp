#include "media/rtsp/rtsp_requests.h"

#include "net/text_utils.h"

namespace {

std::string withSessionTag(std::string_view templ, const std::string& sessionTag) {
    // The identifier is the car's text: substitute must not expand a placeholder inside it
    // again, which net/ guarantees.
    return substitute(std::string(templ), {{"{{rtpSessionTag}}", sessionTag}});
}

} // namespace

std::string rtspOptionsRequest() {
    return std::string(kRtspOptionsTemplate);
}

std::string rtspDescribeRequest() {
    return std::string(kRtspDescribeTemplate);
}

std::string rtspSetupRequest(uint16_t rtpPort, uint16_t rtcpPort) {
    return substitute(std::string(kRtspSetupTemplate),
                      {{"{{fecEnable}}", std::string(kRtspFecEnable)},
                       {"{{rtpPort}}", std::to_string(rtpPort)},
                       {"{{rtcpPort}}", std::to_string(rtcpPort)}});
}

std::string rtspPlayRequest(const std::string& sessionTag) {
    return withSessionTag(kRtspPlayTemplate, sessionTag);
}

std::string rtspTeardownRequest(const std::string& sessionTag) {
    return withSessionTag(kRtspTeardownTemplate, sessionTag);
}
