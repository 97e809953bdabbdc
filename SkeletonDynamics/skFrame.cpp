#include "skFrame.h"

#include <stdexcept>
#include <utility>

skFrame::skFrame(std::shared_ptr<dart::dynamics::Frame> f) : frame(std::move(f)) {
  if (!frame) throw std::invalid_argument("skFrame: no frame given");
}

void setRefFrame(std::shared_ptr<dart::dynamics::Frame>& refFrame, const std::shared_ptr<skFrame>& frame) {
  if (!frame || !frame->frame)
    throw std::invalid_argument("setRefFrame: no frame given (None); the reference frame is unchanged");
  refFrame = frame->frame;
}
