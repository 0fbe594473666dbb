#include "media/rtsp/rtsp_answer.h"

#include "net/text_utils.h"

int rtspOkCount(std::string_view answer) {
    int count = 0;
    for (size_t at = answer.find(kRtspOkStatus); at != std::string_view::npos;
         at = answer.find(kRtspOkStatus, at + kRtspOkStatus.size())) {
        ++count;
    }
    return count;
}

bool isRtspOk(std::string_view answer) {
    return answer.find(kRtspOkStatus) != std::string_view::npos;
}

std::string rtspSessionTag(const std::string& answer) {
    return textBetween(answer, "Session: ", "\r\n");
}
