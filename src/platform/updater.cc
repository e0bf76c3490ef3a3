#include "platform/updater.h"

#include "base/log.h"

namespace marigold {

void Updater::resetUpdateCycle() {
  ++resetCount_;
  log("update cycle reset for " + bundlePath_.string());
}

}  // namespace marigold
