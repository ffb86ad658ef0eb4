#include "registry/registry_saver.h"

#include "registry/ndx_file.h"

namespace registry {

RegistrySaver::RegistrySaver(TBuffClient& store, std::mutex& lock, std::string path,
                             console::MessageSink& sink)
    : store_(store), lock_(lock), path_(std::move(path)), sink_(sink) {
  thread_ = std::thread([this] { Loop(); });
}

void RegistrySaver::Request() {
  {
    std::lock_guard<std::mutex> g(m_);
    if (stop_) return;
    requested_ = true;
  }
  cv_.notify_all();
}

void RegistrySaver::Wait() {
  std::unique_lock<std::mutex> g(m_);
  cv_.wait(g, [this] { return !requested_ && !saving_; });
}

void RegistrySaver::Finish() {
  {
    std::lock_guard<std::mutex> g(m_);
    if (stop_) return;
    stop_ = true;
  }
  cv_.notify_all();
  if (thread_.joinable()) thread_.join();
}

bool RegistrySaver::Idle() const {
  std::lock_guard<std::mutex> g(m_);
  return !requested_ && !saving_;
}

uint64_t RegistrySaver::Saves() const {
  std::lock_guard<std::mutex> g(m_);
  return saves_;
}

uint64_t RegistrySaver::Failures() const {
  std::lock_guard<std::mutex> g(m_);
  return failures_;
}

void RegistrySaver::Loop() {
  std::unique_lock<std::mutex> g(m_);
  for (;;) {
    cv_.wait(g, [this] { return requested_ || stop_; });
    if (!requested_) return;  // stopped with nothing asked for
    requested_ = false;
    saving_ = true;
    g.unlock();
    const bool ok = SaveNdx(store_, lock_, path_, sink_);
    g.lock();
    saving_ = false;
    ++saves_;
    failures_ += !ok;
    cv_.notify_all();
  }
}

}  // namespace registry
