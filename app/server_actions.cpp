// The operator's actions on the running server, one implementation for every
// front end: registration, the registry, one device, the traffic trace and
// the settings.
#include <thread>

#include "app/server.h"
#include "armlink/commands.h"
#include "armlink/port_rename.h"
#include "console/settings_keys.h"
#include "platform/process_runner.h"
#include "registry/registration_export.h"

namespace app {

using devlink::NumberText;

// ---- registration

void Server::OpenRegistrationAll() { registration_.OpenAll(); }

void Server::OpenRegistrationOne(devlink::ConsoleNumber n) { registration_.OpenOne(n); }

void Server::CloseRegistration() { registration_.Close(); }

void Server::AllowDeleteOne(bool on) {
  if (on) registration_.AllowDeleteOne();
  else timers_.deleteOneAllowed = false;
}

// ---- the registry

void Server::DeleteAllRegistrations() { store_.ClearAllRegistrations(link_->Lock); }

void Server::ClearUnusedRecords() { store_.ClearUnused(link_->Lock); }

registry::NdxCompare Server::CompareRegistry() {
  return registry::CompareNdx(store_, link_->Lock, NdxPath(), sink_);
}

bool Server::LoadRegistry() {
  // A save under way must not write the table that the load is replacing.
  WaitForSaves();
  return registry::LoadNdx(store_, link_->Lock, NdxPath(), sink_);
}

bool Server::ExportRegistered() {
  return registry::ExportRegistrationObj(store_.Grid(), store_.TableLength(link_->Lock),
                                         cfg_.dataDir + "/RegistrationObj.txt", sink_);
}

void Server::RefreshGrid() { store_.RefreshTable(link_->Lock); }

bool Server::SortGrid(int column, bool ascending) { return store_.Grid().Sort(column, ascending); }

// ---- one device

bool Server::Holds(const DeviceRef& d) {
  const devlink::ClientTable& t = link_->table;
  if (t.Valid(d.index) && t[d.index].inUse && devlink::NumberOf(t[d.index]) == d.number)
    return true;
  sink_.Message("Прибор Пульт.N=" + NumberText(d.number) + " больше не в строке N стр. " +
                std::to_string(d.index) + ": действие не выполнено.");
  return false;
}

bool Server::DeleteRegistration(const DeviceRef& d) {
  if (store_.DeleteRegistration(link_->Lock, d.index, d.number)) {
    timers_.deleteOneAllowed = false;
    return true;
  }
  std::lock_guard<std::mutex> lock(link_->Lock);
  Holds(d);  // says why
  return false;
}

bool Server::ServiceRequest(const DeviceRef& d, int kind) {
  bool queued = false;
  {
    std::lock_guard<std::mutex> lock(link_->Lock);
    if (!Holds(d)) return false;
    queued = armlink::ServiceRequest(*link_, channel_, d.index, kind);
    // The mark follows only a request that will reach the device.
    if (queued && kind == 5) link_->table[d.index].switchedOff = 1;
    if (queued && kind == 6) link_->table[d.index].switchedOff = 0;
  }
  if (!queued) sink_.Message("Запрос Пульт.N=" + NumberText(d.number) + " не поставлен в очередь.");
  store_.RefreshRow(link_->Lock, d.index, sink_);
  return queued;
}

bool Server::SwitchOff(const DeviceRef& d) { return ServiceRequest(d, 5); }

bool Server::SwitchOn(const DeviceRef& d) { return ServiceRequest(d, 6); }

bool Server::PermitSubstitution(const DeviceRef& d) {
  std::lock_guard<std::mutex> lock(link_->Lock);
  if (!Holds(d)) return false;
  link_->table[d.index].substPermit = 1;
  return true;
}

bool Server::SetTrafficFilter(const DeviceRef& d) {
  {
    std::lock_guard<std::mutex> lock(link_->Lock);
    if (!Holds(d)) return false;
  }
  settings_.GlFiltrNStruct = d.index;
  settings_.GlFiltrNPult.Store(d.number);
  return true;
}

// ---- the traffic trace

void Server::TraceStart() {
  settings_.GlTraficRun = true;
  if (timers_.autoStop) timers_.StartFiveMinutes();
}

// ---- settings

void Server::EditSettings(console::Form1Settings f, console::Form1Control control) {
  console::ApplyControl(control, f, settings_);
  form1_ = std::move(f);
  if (control == console::Form1Control::kCheckBox_Internet && inet_)
    inet_->SetEnabled(form1_.CheckBox_Internet);
}

bool Server::SetSettings(const std::vector<std::pair<std::string, std::string>>& changes,
                         std::string* error) {
  if (settingsEditing_) {
    *error = "настройки сейчас правит оператор на вкладке \"Настройки\"; повторите после правки";
    return false;
  }
  console::Form1Settings f = form1_;
  std::vector<console::Form1Control> controls;
  for (const auto& [key, value] : changes) {
    const auto control = console::SetForm1Key(f, key, value, error);
    if (!control) return false;
    controls.push_back(*control);
  }
  // The two ports change through their own steps, as their boxes do.
  const int nnPort = f.NnPort, portArm = f.PortArm;
  f.NnPort = form1_.NnPort;
  f.PortArm = form1_.PortArm;
  for (console::Form1Control c : controls) {
    EditSettings(f, c);
    f = form1_;  // a control may change others (the internet check clears the blocking)
  }
  if (nnPort != form1_.NnPort && !ChangeWorkstationPort(nnPort)) {
    *error = "порт CNCB" + std::to_string(nnPort) + " не выбран";
    return false;
  }
  if (portArm != form1_.PortArm) RenameWorkstationEnd(portArm);
  ++settingsGeneration_;
  const bool written = WriteSettings();
  const bool applied = ApplyNetwork(true);
  if (!written) *error = "файл настроек не записан";
  else if (!applied) *error = "настройки записаны, но сетевые настройки не вступили в силу";
  return written && applied;
}

bool Server::ChangeWorkstationPort(int nnPort) {
  if (nnPort < 0 || nnPort > 7) return false;
  if (secondCopy_) {
    // The port belongs to the server that runs; this copy's choice is not kept.
    sink_.Message("Внимание - Запущен второй экземпляр программы! Порт не меняется.");
    return false;
  }
  // The worker reads the port outside Lock: it stops around the change.
  if (comWorker_) comWorker_->Stop();
  ClosePort();
  form1_.NnPort = nnPort;
  OpenPort();
  if (comWorker_) comWorker_->Start();
  return true;
}

void Server::RenameWorkstationEnd(int portArm) {
  if (portArm < 0 || portArm > 14) return;
  form1_.PortArm = portArm;
  const std::string armPort = "COM" + std::to_string(portArm + 1);
  const std::vector<std::string> command = armlink::RenameCommand(cfg_.exeDir, PortName(), armPort);
  sink_.DebugLine(armlink::RenameCommandLine(cfg_.exeDir, PortName(), armPort));
  std::string why;
  if (!platform::RunDetached(command, cfg_.exeDir, &why)) sink_.DebugLine(why);
}

bool Server::StartMaintenance(const DeviceRef& d, const std::string& what,
                              maintenance::Maintenance::Job job, std::string* error) {
  if (secondCopy_ || !started_) {
    *error = "обслуживание ведёт только запущенный сервер, не второй экземпляр";
    return false;
  }
  if (GlMaintOpen) {
    *error = "окно \"Удаленное обслуживание\" открыто для прибора " +
             devlink::NumberText(maintDevice_.number) + ": обслуживание ведёт оператор";
    return false;
  }
  {
    std::lock_guard<std::mutex> lock(link_->Lock);
    if (!Holds(d)) {
      *error = "прибор " + devlink::NumberText(d.number) + " больше не зарегистрирован";
      return false;
    }
  }
  const uint16_t index = d.index;
  // The workstation is told of the start and, when the job ends, of the end.
  auto wrapped = [this, index, job = std::move(job)](maintenance::Exchange& x) {
    SetMaintNotice(index, 1);
    const bool ok = job(x);
    SetMaintNotice(index, 2);
    return ok;
  };
  return maintenance_->Start(index, what, std::move(wrapped), error);
}

bool Server::OpenMaintenance(const DeviceRef& d, std::string* error) {
  if (secondCopy_ || !started_) {
    *error = "обслуживание ведёт только запущенный сервер, не второй экземпляр";
    return false;
  }
  if (maintenance_->Busy()) {
    *error = "обслуживание прибора ещё идёт: дождитесь его конца";
    return false;
  }
  {
    std::lock_guard<std::mutex> lock(link_->Lock);
    if (!Holds(d)) {
      *error = "прибор " + devlink::NumberText(d.number) + " больше не зарегистрирован";
      return false;
    }
  }
  link_->handoff.GlNumStruct = d.index;
  maintDevice_ = d;
  GlMaintOpen = true;
  SetMaintNotice(d.index, 1);
  return true;
}

void Server::CloseMaintenance() {
  if (!GlMaintOpen) return;
  maintenance_->Abort();
  GlMaintOpen = false;
  SetMaintNotice(maintDevice_.index, 2);
}

bool Server::StartWindowMaintenance(const std::string& what, maintenance::Maintenance::Job job,
                                    std::string* error) {
  if (!GlMaintOpen) {
    *error = "окно \"Удаленное обслуживание\" не открыто";
    return false;
  }
  {
    // The registration may have been deleted or replaced while the window was open.
    std::lock_guard<std::mutex> lock(link_->Lock);
    if (!Holds(maintDevice_)) {
      *error = "прибор " + devlink::NumberText(maintDevice_.number) + " больше не зарегистрирован";
      return false;
    }
  }
  return maintenance_->Start(maintDevice_.index, what, std::move(job), error);
}

void Server::SetMaintNotice(uint16_t index, uint8_t notice) {
  std::lock_guard<std::mutex> lock(link_->Lock);
  if (link_->table.Valid(index) && link_->table[index].inUse) link_->table[index].maintNotice = notice;
}

}  // namespace app
