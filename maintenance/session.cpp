#include "maintenance/session.h"

#include <utility>

namespace maintenance {

Maintenance::Maintenance(devlink::DeviceLink& link) : link_(link) {}

Maintenance::~Maintenance() {
  Abort();
  Wait();
}

bool Maintenance::Start(uint16_t index, const std::string& what, Job job, std::string* error) {
  std::lock_guard<std::mutex> g(m_);
  if (busy_) {
    *error = "идёт обслуживание прибора #" + std::to_string(device_) + " (" + what_ +
             "): дождитесь его конца или прервите его";
    return false;
  }
  if (worker_.joinable()) worker_.join();
  busy_ = true;
  what_ = what;
  device_ = index;
  events_ = std::make_shared<EventQueue>();
  state_.GlAbort = false;
  link_.handoff.GlWaitCode = 0;
  link_.handoff.GlNumStruct = index;
  worker_ = std::thread([this, job = std::move(job), events = events_] {
    Exchange x(link_, state_, *events);
    const bool ok = job(x);
    // The end is told and the session freed in one step: a next job's start
    // cannot be refused after the end was seen.
    std::lock_guard<std::mutex> g(m_);
    events->Push({Event::Kind::kFinished, "", 0, 0, ok});
    busy_ = false;
  });
  return true;
}

std::shared_ptr<EventQueue> Maintenance::Queue() {
  std::lock_guard<std::mutex> g(m_);
  return events_;
}

void Maintenance::Abort() {
  state_.GlAbort = true;
  link_.handoff.Wake();
}

void Maintenance::Wait() {
  std::thread worker;
  {
    std::lock_guard<std::mutex> g(m_);
    worker = std::move(worker_);
  }
  if (worker.joinable()) worker.join();
}

}  // namespace maintenance
