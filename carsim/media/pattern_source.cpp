#include "carsim/media/pattern_source.h"

namespace carsim {

PatternSource::PatternSource(const EncoderSettings& settings)
    : settings_(settings), pattern_(settings.width, settings.height) {}

std::optional<Bytes> PatternSource::nextFrame(bool keyFrame) {
    if (!opened_) {
        return std::nullopt;
    }
    pattern_.draw(frameIndex_++, encoder_.planes(), encoder_.strides());
    return encoder_.encode(keyFrame);
}

} // namespace carsim
