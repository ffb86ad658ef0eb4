// The maintenance session over the real device worker and hand-off, with a
// device behind a fake endpoint that reads the server's requests (opening
// encrypted ones with its key) and answers from a script at once, as a fast
// device on loopback would.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "maintenance/session.h"
#include "tests/device_link_fixture.h"

namespace dltest {

class ScriptedDevice final : public testsupport::StubEndpoint {
 public:
  struct Request {
    Bytes wire, plain;
  };
  // The answer's code and data for a request as the device reads it; none
  // for silence.
  std::function<std::optional<Bytes>(const Bytes&)> script = [](const Bytes&) {
    return std::nullopt;
  };
  std::string from = "10.0.0.5";  // the address the answers come from
  std::function<void(const Bytes&)> deliver;
  Device* device = nullptr;

  // Answers by request code: code -> the answer's code and data.
  void AnswerCodes(std::map<uint8_t, Bytes> answers) {
    script = [answers = std::move(answers)](const Bytes& r) -> std::optional<Bytes> {
      if (r.size() < 4) return std::nullopt;
      const auto it = answers.find(r[3]);
      if (it == answers.end()) return std::nullopt;
      return it->second;
    };
  }

  bool SendTo(std::string_view, uint16_t, const uint8_t* data, size_t n) override {
    Request r{Bytes(data, data + n), Bytes(data, data + n)};
    if (r.wire[0] == 0xE9) r.plain = device->Open(r.wire).value_or(Bytes{});
    {
      std::lock_guard<std::mutex> g(m_);
      requests_.push_back(r);
    }
    const std::optional<Bytes> answer = script(r.plain);
    if (!answer) return true;
    Bytes a = {0xEF, uint8_t(answer->size() + 2), 0x55};
    a.insert(a.end(), answer->begin(), answer->end());
    a.push_back(0);
    deliver(WithCheck(a));
    return true;
  }
  std::vector<Request> Requests() {
    std::lock_guard<std::mutex> g(m_);
    return requests_;
  }
  // The requests as the device read them.
  std::vector<Bytes> Plain() {
    std::vector<Bytes> out;
    for (const Request& r : Requests()) out.push_back(r.plain);
    return out;
  }
  void Forget() {
    std::lock_guard<std::mutex> g(m_);
    requests_.clear();
  }

 private:
  std::mutex m_;
  std::vector<Request> requests_;
};

// Device 1/0/5 in record 3 behind the scripted endpoint; the worker runs.
class SessionFixture : public LinkFixture {
 protected:
  ScriptedDevice dev;
  Device device = AddDevice(3, {1, 0, 5});
  maintenance::Maintenance session{link};

  SessionFixture() {
    sender.SetEndpoint(0, &dev);
    dev.device = &device;
    dev.deliver = [this](const Bytes& a) { ring->Receive(0, a.data(), a.size(), dev.from, 4001); };
    session.Shared().timeDivisor = 1000;  // 15 s waits last 15 ms
    worker->Start();
  }
  ~SessionFixture() override {
    session.Abort();
    session.Wait();
    worker->Stop();
  }

  // Runs `job` to its end: the log lines it produced, and its result.
  std::vector<std::string> Run(const maintenance::Maintenance::Job& job, bool* ok = nullptr) {
    using maintenance::Event;
    std::string error;
    EXPECT_TRUE(session.Start(3, "тест", job, &error)) << error;
    std::vector<std::string> log;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < end) {
      for (const Event& e : session.Events().Drain(50)) {
        if (e.kind == Event::Kind::kLog) log.push_back(e.text);
        if (e.kind == Event::Kind::kFinished) {
          if (ok) *ok = e.ok;
          return log;
        }
      }
    }
    ADD_FAILURE() << "the job did not end";
    return log;
  }
};

}  // namespace dltest
