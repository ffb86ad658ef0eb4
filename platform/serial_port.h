// The workstation's serial line as the core sees it: a byte stream with the
// read, write and purge of a serial port. The Linux implementation is
// TermiosPort; tests use an in-memory stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace platform {

class SerialPort {
 public:
  virtual ~SerialPort() = default;

  virtual bool IsOpen() const = 0;
  // The name the port was opened under ("CNCB0" or a path).
  virtual std::string Name() const = 0;

  // Reads up to `max` bytes: waits up to `waitMs` for the first byte, then
  // reads on until the line stays quiet for 10 ms or `max` bytes arrived.
  // Returns the count read, 0 when nothing came or the port is closed.
  virtual size_t Read(uint8_t* buf, size_t max, int waitMs) = 0;
  // Writes all bytes within the write time-out; false on time-out or error.
  virtual bool Write(const uint8_t* buf, size_t n) = 0;
  // Discards what waits in the input and output buffers.
  virtual void Purge() = 0;
};

}  // namespace platform
