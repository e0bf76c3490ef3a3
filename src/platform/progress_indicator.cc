#include "platform/progress_indicator.h"

#include <algorithm>
#include <cmath>

namespace marigold {

void ProgressIndicator::setDoubleValue(double value) {
  update(value_, std::isnan(value) ? kMinValue : std::clamp(value, kMinValue, kMaxValue));
}

}  // namespace marigold
