#include "modemsim/scheduler.h"

namespace veltrane::modemsim {

Scheduler::TimerId Scheduler::at(Micros when, std::function<void()> fn) {
  if (when < now_) when = now_;
  TimerId id = nextId_++;
  events_.emplace(std::make_pair(when, id), std::move(fn));
  due_[id] = when;
  return id;
}

void Scheduler::cancel(TimerId id) {
  auto it = due_.find(id);
  if (it == due_.end()) return;
  events_.erase({it->second, id});
  due_.erase(it);
}

std::optional<Micros> Scheduler::nextDue() const {
  if (events_.empty()) return std::nullopt;
  return events_.begin()->first.first;
}

bool Scheduler::runNext() {
  if (events_.empty()) return false;
  auto it = events_.begin();
  auto [when, id] = it->first;
  auto fn = std::move(it->second);
  events_.erase(it);
  due_.erase(id);
  if (when > now_) now_ = when;
  fn();
  return true;
}

void Scheduler::runUntil(Micros limit) {
  while (!events_.empty() && events_.begin()->first.first <= limit) runNext();
  if (limit > now_) now_ = limit;
}

void Timer::start(Micros delay, std::function<void()> fn) {
  stop();
  id_ = sched_.after(delay, [this, fn = std::move(fn)] {
    id_ = 0;
    fn();
  });
}

void Timer::stop() {
  if (id_ != 0) sched_.cancel(id_);
  id_ = 0;
}

}  // namespace veltrane::modemsim
