// The workstation serial port on Linux: a termios device (a real port or a
// pty of a virtual null-modem pair) at 19200 8N1, raw, without flow control,
// held by one process at a time. Exclusive use rests on flock(), which also
// stops root and ends with the holder; real ports get TIOCEXCL besides. Ptys
// do not: socat keeps them open, so the mode would outlive a killed holder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/serial_port.h"

namespace platform {

class TermiosPort final : public SerialPort {
 public:
  enum class OpenError { kNone, kNotFound, kBusy, kNotTerminal, kFailed };

  TermiosPort() = default;
  ~TermiosPort() override;

  TermiosPort(const TermiosPort&) = delete;
  TermiosPort& operator=(const TermiosPort&) = delete;

  // Opens `name`: a name without "/" is taken from `portsDir` ("CNCB0" is
  // portsDir/CNCB0), a name with "/" is a path. Symlinks are followed. Fails
  // with kBusy while another process holds the port.
  bool Open(const std::string& name, const std::string& portsDir = "/dev");
  void Close();

  // Why the last Open failed, and a Russian line for the operator.
  OpenError LastError() const { return error_; }
  const std::string& ErrorText() const { return errorText_; }
  // The path that was opened (or tried).
  const std::string& Path() const { return path_; }

  bool IsOpen() const override { return fd_ >= 0; }
  std::string Name() const override { return name_; }
  size_t Read(uint8_t* buf, size_t max, int waitMs) override;
  bool Write(const uint8_t* buf, size_t n) override;
  void Purge() override;

  // The quiet time that ends a read, and the write time-out of n bytes.
  static constexpr int kGapMs = 10;
  // A peer that parses frames as they come may end its reads sooner.
  void SetGapMs(int ms) { gapMs_ = ms > 0 ? ms : kGapMs; }
  static constexpr int WriteTimeoutMs(size_t n) { return int(n) * 100 + 1000; }

 private:
  bool Fail(OpenError e, const std::string& text);

  int fd_ = -1;
  int gapMs_ = kGapMs;
  bool exclusiveMode_ = false;
  std::string name_;
  std::string path_;
  OpenError error_ = OpenError::kNone;
  std::string errorText_;
};

// The path a port name stands for: `name` itself when it holds "/", else
// portsDir/name.
std::string SerialPortPath(const std::string& name, const std::string& portsDir);

}  // namespace platform
