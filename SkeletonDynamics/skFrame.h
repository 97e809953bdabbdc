// A DART frame as scripts hold it: an opaque handle that keeps the frame alive, and with a body node's
// frame the whole skeleton, for as long as anyone holds it.
#pragma once

#include <memory>

namespace dart::dynamics {
class Frame;
}

class skFrame {
 public:
  // Throws std::invalid_argument for an empty frame.
  explicit skFrame(std::shared_ptr<dart::dynamics::Frame> frame);

  std::shared_ptr<dart::dynamics::Frame> frame;
};

// Points a body's reference frame, `refFrame`, at the frame of `frame`: from the next update on the
// body's reference frame follows its translation and linear motion. An empty handle throws
// std::invalid_argument and leaves `refFrame` as it was.
void setRefFrame(std::shared_ptr<dart::dynamics::Frame>& refFrame, const std::shared_ptr<skFrame>& frame);
