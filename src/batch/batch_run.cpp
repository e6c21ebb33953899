#include "batch/batch_run.h"

namespace velmora::batch {

BatchRun::BatchRun(const Job& job, const CheckedProgram* program, MakePlatform make,
                   const Clock& clock, int jobs, Timeouts timeouts)
    : jobs_(jobs > 0 ? static_cast<std::size_t>(jobs) : job.cards.size()) {
  for (std::size_t i = 0; i < job.cards.size(); ++i) {
    const std::string& port = job.cards[i];
    cards_.push_back(std::make_unique<CardRun>(port, job, program, make(port), clock, timeouts));
    cards_.back()->onProgress = [this, i] { CardMoved(i); };
    cards_.back()->onChange = [this, port](const Change& change) {
      if (onChange) onChange(port, change);
    };
  }
}

void BatchRun::Start() {
  StartMore();
}

void BatchRun::StartMore() {
  std::size_t running = 0;
  for (std::size_t i = 0; i < next_; ++i) running += cards_[i]->Done() ? 0 : 1;
  while (!stopping_ && running < jobs_ && next_ < cards_.size()) {
    ++running;
    cards_[next_++]->Start();
  }
  if (Finished() && !finishedReported_) {
    finishedReported_ = true;
    if (onFinished) onFinished();
  }
}

void BatchRun::Stop() {
  stopping_ = true;
  for (auto& card : cards_) card->Stop();
}

bool BatchRun::Finished() const {
  for (const auto& card : cards_)
    if (!card->Done()) return false;
  return true;
}

void BatchRun::CardMoved(std::size_t index) {
  if (onProgress) onProgress(index);
  if (cards_[index]->Done()) StartMore();
}

std::vector<CardReport> BatchRun::Reports() const {
  std::vector<CardReport> reports;
  for (const auto& card : cards_) reports.push_back(card->Report());
  return reports;
}

int BatchRun::ExitStatus() const {
  for (const auto& card : cards_)
    if (card->Report().result == Result::kFailed) return 1;
  return 0;
}

}  // namespace velmora::batch
