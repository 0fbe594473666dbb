#include "epsilon/answer_framing.h"

#include <algorithm>

AnswerFraming::Progress AnswerFraming::feed(const uint8_t* data, size_t size) {
    if (progress_ != Progress::NeedMore) {
        return progress_;
    }
    size_t offset = 0;
    if (!lengthRead_) {
        lengthRead_ = true;
        if (size < kLengthFieldSize) {
            return progress_ = Progress::Failed;
        }
        length_ = static_cast<uint32_t>(data[0]) << 24 | static_cast<uint32_t>(data[1]) << 16 |
                  static_cast<uint32_t>(data[2]) << 8 | static_cast<uint32_t>(data[3]);
        if (length_ < 1 || length_ > kMaxTextLength) {
            return progress_ = Progress::Failed;
        }
        offset = kLengthFieldSize;
    }
    const size_t take = std::min<size_t>(length_ - text_.size(), size - offset);
    if (take > 0) {
        text_.insert(text_.end(), data + offset, data + offset + take);
    }
    if (text_.size() == length_) {
        progress_ = Progress::Complete;
    }
    return progress_;
}
