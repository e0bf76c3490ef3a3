#include "platform/application.h"

namespace marigold {

void Application::stopModal() {
  ++stopModalCount_;
  // A copy: the handler may install another one.
  if (auto handler = stopModalHandler_) handler();
}

}  // namespace marigold
