#include "app/control_config.h"

#include <nlohmann/json.hpp>
#include <utility>
#include <vector>

#include "app/server.h"
#include "configurator/code_tables.h"
#include "configurator/config_session.h"
#include "configurator/expander_blocks.h"
#include "configurator/image.h"
#include "maintenance/actions.h"
#include "maintenance/identity.h"
#include "platform/hex_text.h"

namespace app {

namespace {

using json = nlohmann::json;
using configurator::ConfigCommand;
using configurator::ConfigEvent;
using configurator::ConfigNotice;

std::string Dump(const json& j) {
  return j.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
}

// The detectors of an expander's table as the window shows them, one object
// per occupied slot, keyed by the table's headings.
json ExpanderJson(configurator::Expander e, const configurator::ExpanderBlocks& blocks) {
  const auto rows = configurator::RowsFromBlocks(e, blocks);
  const auto& headings = configurator::Headings(e);
  json detectors = json::array();
  for (size_t slot = 0; slot < rows.size(); ++slot) {
    if (rows[slot].empty) continue;
    json d = {{"slot", slot}};
    for (size_t c = 1; c < headings.size(); ++c) {
      const std::string heading(headings[c]);
      if (!heading.empty()) d[heading] = rows[slot].cells[c];
    }
    if (rows[slot].keyFob) d["N-хозоргана"] = rows[slot].owner;
    detectors.push_back(std::move(d));
  }
  const auto network = configurator::NetworkFields(e, blocks);
  return {{"expander", e == configurator::Expander::kRielta ? "rielta" : "astra"},
          {"network", {network[0], network[1]}},
          {"detectors", std::move(detectors)}};
}

// Streams the session's log and the run's results; a client that went away aborts it.
class ConfigJob : public ControlJob {
 public:
  ConfigJob(maintenance::Maintenance& session, std::shared_ptr<configurator::ConfigChannel> ch,
            std::string action)
      : session_(session), events_(session.Queue()), ch_(std::move(ch)), action_(std::move(action)) {}
  ~ConfigJob() override {
    if (!ended_) session_.Abort();
  }

  bool Continue(std::string& out) override {
    for (const ConfigNotice& n : ch_->Drain(0)) Take(n, out);
    for (const maintenance::Event& e : events_->Drain(0)) {
      if (e.kind == maintenance::Event::Kind::kLog) out += Dump({{"line", e.text}});
      if (e.kind != maintenance::Event::Kind::kFinished) continue;
      for (const ConfigNotice& n : ch_->Drain(0)) Take(n, out);
      out += Dump(Done(e.ok));
      ended_ = true;
      return false;
    }
    return true;
  }

 private:
  void Take(const ConfigNotice& n, std::string& out) {
    using K = ConfigNotice::Kind;
    if (n.kind == K::kRefused || (n.kind == K::kStatus && !n.text.empty())) {
      out += Dump({{"line", n.text}});
    } else if (n.kind == K::kExpanderRead) {
      expanderRead_ = n.ok;
      expander_ = ExpanderJson(n.expander, n.blocks);
    } else if (n.kind == K::kTransfer) {
      const ConfigEvent& e = n.transfer;
      if (e.kind == ConfigEvent::Kind::kIdentified) {
        variant_ = e.variant;
        out += Dump({{"line", e.text}});
      }
      if (e.kind == ConfigEvent::Kind::kReadDone) image_ = e.bytes;
      if (e.kind == ConfigEvent::Kind::kKeyRead) {
        const configurator::PolledKey k = configurator::KeyBufferFromReply(e.bytes, {});
        key_ = k.text;
        out += Dump({{"line", "Ключ: " + k.text}});
      }
      if (e.kind == ConfigEvent::Kind::kGaveUp) out += Dump({{"line", "Прибор не отвечает."}});
    }
  }

  json Done(bool ok) {
    json done = {{"done", true}};
    if (variant_) done["variant"] = *variant_;
    if (action_ == "read" && image_.size() > 255) {
      image_.resize(configurator::off::kEnd);
      done["image"] = platform::HexEncode(image_);
    }
    if (action_ == "key" && !key_.empty()) done["key"] = key_;
    if (action_ == "expander-read") {
      if (expander_.is_null()) {
        ok = false;
        done["error"] = "в конфигурации прибора радиорасширитель не подключён";
      } else {
        ok = ok && expanderRead_;
        done["expander"] = expander_;
      }
    }
    done["ok"] = ok;
    return done;
  }

  maintenance::Maintenance& session_;
  std::shared_ptr<maintenance::EventQueue> events_;
  std::shared_ptr<configurator::ConfigChannel> ch_;
  std::string action_;
  bool ended_ = false;
  std::optional<int> variant_;
  std::vector<uint8_t> image_;
  std::string key_;
  json expander_;
  bool expanderRead_ = false;
};

}  // namespace

std::optional<std::string> CheckConfigRequest(const ControlRequest& r) {
  bool known = false;
  for (const char* a : kConfigActions) known = known || r.action == a;
  if (!known) {
    std::string why = "config: действие одно из";
    const char* sep = " ";
    for (const char* a : kConfigActions) why += std::string(std::exchange(sep, ", ")) + a;
    return why;
  }
  const bool write = r.action == "write";
  if (write != !r.image.empty() || write != (r.variant >= 0)) {
    return "config: write и только он несёт конфигурацию (\"image\": 512 шестнадцатеричных цифр, "
           "\"variant\": тип прибора)";
  }
  if (write) {
    const auto bytes = platform::HexDecode(r.image);
    if (!bytes || bytes->size() != configurator::off::kEnd)
      return "config: поле \"image\" должно быть 256 байтами конфигурации (512 шестнадцатеричных "
             "цифр)";
  }
  if (!r.newUser.empty() || !r.newPassword.empty() || r.lan >= 0 || r.sim >= 0 ||
      !r.fileName.empty() || !r.firmware.empty())
    return "config: поля обслуживания, кроме пользователя и пароля, к нему не относятся";
  if (std::string why = maintenance::CredentialsRefusal(r.user, r.password, 1); !why.empty())
    return "config: " + why;
  return std::nullopt;
}

std::unique_ptr<ControlJob> StartConfigRequest(Server& server, const ControlRequest& r,
                                               const DeviceRef& d, std::string* error) {
  std::vector<ConfigCommand> steps;
  ConfigCommand c;
  if (r.action == "read" || r.action == "expander-read") {
    c.kind = ConfigCommand::Kind::kRead;
    steps.push_back(c);
  } else if (r.action == "key") {
    c.kind = ConfigCommand::Kind::kKeyPoll;
    steps.push_back(c);
  } else if (r.action == "write") {
    c.kind = ConfigCommand::Kind::kWrite;
    c.image = *platform::HexDecode(r.image);
    c.image.resize(configurator::kImageSize, 0);
    c.imageVariant = uint8_t(r.variant);
    steps.push_back(c);
  }
  auto channel = std::make_shared<configurator::ConfigChannel>();
  const std::string line = configurator::ConsoleLine(devlink::NumberText(d.number));
  auto job = maintenance::WithLogin(
      {r.user, r.password}, [channel, line, steps](maintenance::Exchange& x) {
        return configurator::RunConfigScript(x, *channel, line, steps);
      });
  if (!server.StartMaintenance(d, "конфигуратор: " + r.action, std::move(job), error))
    return nullptr;
  return std::make_unique<ConfigJob>(server.Maint(), channel, r.action);
}

}  // namespace app
