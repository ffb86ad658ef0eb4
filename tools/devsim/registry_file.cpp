#include "tools/devsim/registry_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace devsim {
namespace {

std::string ErrnoText(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

bool WriteAll(int fd, const uint8_t* p, size_t n) {
  while (n > 0) {
    const ssize_t w = ::write(fd, p, n);
    if (w < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += w;
    n -= size_t(w);
  }
  return true;
}

}  // namespace

devlink::ClientRecord MakeRegisteredRecord(const DevicePlan& plan, const Key10& base,
                                           uint8_t linkState) {
  devlink::ClientRecord r;
  std::memset(&r, 0, sizeof r);
  r.inUse = 1;
  r.linkState = linkState;
  devlink::SetPStr(r.peerAddr, Ipv4Text(plan.address));
  devlink::PutU16(r.peerPort, plan.port);
  r.n1 = plan.number.n1;
  r.n2 = plan.number.n2;
  r.n3 = plan.number.n3;
  const Key10 km = DeriveDeviceKey(base, plan.devBytes.data(), plan.seed.data());
  std::memcpy(r.keyMaterial, km.data(), 10);
  std::memcpy(r.C_iTransm, km.data(), 4);
  std::memcpy(r.C_iResiv, km.data(), 4);
  r.identity[0] = plan.identity[0];
  r.identity[1] = plan.identity[1];
  r.iface = 0;
  return r;
}

bool WriteRegistry(const std::string& path, const Population& p, const Key10& base,
                   std::string* error, uint8_t linkState) {
  const std::string tmp = path + ".tmp" + std::to_string(::getpid());
  const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    *error = ErrnoText("cannot create", tmp);
    return false;
  }
  constexpr uint32_t kChunk = 256;
  std::vector<devlink::ClientRecord> chunk;
  chunk.reserve(kChunk);
  bool ok = true;
  for (uint32_t k = 0; ok && k < p.devices; ++k) {
    chunk.push_back(MakeRegisteredRecord(PlanDevice(p, k), base, linkState));
    if (chunk.size() == kChunk || k + 1 == p.devices) {
      ok = WriteAll(fd, reinterpret_cast<const uint8_t*>(chunk.data()),
                    chunk.size() * devlink::kRecordSize);
      chunk.clear();
    }
  }
  if (!ok) *error = ErrnoText("cannot write", tmp);
  if (ok && ::fsync(fd) != 0) {
    *error = ErrnoText("cannot flush", tmp);
    ok = false;
  }
  if (::close(fd) != 0 && ok) {
    *error = ErrnoText("cannot close", tmp);
    ok = false;
  }
  if (ok && ::rename(tmp.c_str(), path.c_str()) != 0) {
    *error = ErrnoText("cannot rename the registry to", path);
    ok = false;
  }
  if (!ok) ::unlink(tmp.c_str());
  return ok;
}

bool LoadRegistry(const std::string& path, std::vector<DeviceInit>* out, std::string* error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *error = ErrnoText("cannot open", path);
    return false;
  }
  out->clear();
  devlink::ClientRecord r;
  for (uint32_t index = 0; index < 65535; ++index) {
    size_t got = 0;
    auto* p = reinterpret_cast<uint8_t*>(&r);
    while (got < sizeof r) {
      const ssize_t n = ::read(fd, p + got, sizeof r - got);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) {
        *error = ErrnoText("cannot read", path);
        ::close(fd);
        return false;
      }
      if (n == 0) break;
      got += size_t(n);
    }
    if (got < sizeof r) break;  // end of file, or a partial record
    if (r.inUse == 0) continue;
    DeviceInit d;
    d.index = uint16_t(index);
    d.number = devlink::NumberOf(r);
    d.identity = {r.identity[0], r.identity[1]};
    std::memcpy(d.keyMaterial.data(), r.keyMaterial, 10);
    d.send = devlink::GetU32(r.C_iResiv);
    d.recv = devlink::GetU32(r.C_iTransm);
    d.lastHbSeq = r.lastHbSeq;
    d.lastEventSeq = r.lastEventSeq;
    out->push_back(d);
  }
  ::close(fd);
  return true;
}

}  // namespace devsim
