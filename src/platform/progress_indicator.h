// A progress indicator: a bar or a spinner, determinate (a value from 0 to 100) or indeterminate,
// animating or still. A new indicator is an indeterminate bar that is not animating.
// Main thread only.
#pragma once

#include "platform/views.h"

namespace marigold {

enum class ProgressIndicatorStyle { kBar, kSpinning };

class ProgressIndicator : public View {
 public:
  using View::View;

  static constexpr double kMinValue = 0;
  static constexpr double kMaxValue = 100;

  ProgressIndicatorStyle style() const { return style_; }
  void setStyle(ProgressIndicatorStyle style) { update(style_, style); }
  bool isIndeterminate() const { return indeterminate_; }
  void setIndeterminate(bool indeterminate) { update(indeterminate_, indeterminate); }

  double doubleValue() const { return value_; }
  // Values outside 0-100 are pinned to the nearer end; a value that is not a number counts as 0.
  void setDoubleValue(double value);

  bool isAnimating() const { return animating_; }
  void startAnimation() { update(animating_, true); }
  void stopAnimation() { update(animating_, false); }

 private:
  ProgressIndicatorStyle style_ = ProgressIndicatorStyle::kBar;
  bool indeterminate_ = true;
  double value_ = kMinValue;
  bool animating_ = false;
};

}  // namespace marigold
