// A job over all its cards in one event loop: at most `jobs` cards at a time, each on its own
// console; one card's fault never stops the others.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "batch/card_run.h"

namespace velmora::batch {

class BatchRun {
 public:
  using MakePlatform = std::function<std::unique_ptr<CardPlatform>(const std::string& port)>;
  // jobs: cards at a time; 0 for all at once.
  BatchRun(const Job& job, const CheckedProgram* program, MakePlatform make, const Clock& clock,
           int jobs, Timeouts timeouts = {});

  void Start();
  // No card is started any more; cards under way stop, a card that is being flashed once its
  // download has ended.
  void Stop();
  bool Finished() const;

  const std::vector<std::unique_ptr<CardRun>>& Cards() const { return cards_; }
  std::vector<CardReport> Reports() const;
  // 0 when every card is ok or changed, 1 when one failed.
  int ExitStatus() const;

  // A card's stage changed (its index in the job).
  std::function<void(std::size_t card)> onProgress;
  std::function<void(const std::string& port, const Change& change)> onChange;
  std::function<void()> onFinished;

 private:
  void CardMoved(std::size_t index);
  void StartMore();

  std::vector<std::unique_ptr<CardRun>> cards_;
  std::size_t jobs_;
  std::size_t next_ = 0;
  bool stopping_ = false;
  bool finishedReported_ = false;
};

}  // namespace velmora::batch
