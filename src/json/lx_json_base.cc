#include "json/lx_json_base.h"

#include <algorithm>
#include <memory>
#include <utility>

namespace marigold {

std::string LxJsonBase::errorTraceText() const {
  std::string text = "(";
  if (errorTrace_) {
    for (const Error& error : *errorTrace_) {
      if (text.size() > 1) text += ", ";
      text += error.text();
    }
  }
  return text + ")";
}

void LxJsonBase::addErrorWithCode(unsigned code, std::string description) {
  notify(TraceChange::kWillChange);
  if (!errorTrace_) errorTrace_.emplace();
  std::shared_ptr<const Error> previous;
  if (!errorTrace_->empty()) previous = std::make_shared<const Error>(errorTrace_->back());
  errorTrace_->emplace_back(kLxJSONErrorDomain, code, std::move(description), std::move(previous));
  notify(TraceChange::kDidChange);
}

void LxJsonBase::clearErrorTrace() {
  notify(TraceChange::kWillChange);
  errorTrace_.reset();
  notify(TraceChange::kDidChange);
}

int LxJsonBase::addErrorTraceObserver(TraceObserver observer) {
  observers_.emplace_back(nextObserverId_, std::move(observer));
  return nextObserverId_++;
}

void LxJsonBase::removeErrorTraceObserver(int id) {
  std::erase_if(observers_, [id](const auto& entry) { return entry.first == id; });
}

void LxJsonBase::notify(TraceChange change) const {
  for (const auto& [id, observer] : observers_) observer(change);
}

}  // namespace marigold
