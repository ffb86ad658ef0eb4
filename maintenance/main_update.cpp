#include "maintenance/main_update.h"

#include "console/line_format.h"
#include "maintenance/identity.h"
#include "maintenance/intel_hex.h"
#include "maintenance/loader_packets.h"

namespace maintenance {

namespace {

constexpr int kEraseTries = 4;
constexpr int kPacketTries = 7;
// Armed during the pause after the jump: no answer carries it.
constexpr uint8_t kNoAnswer = 0xFF;

constexpr char kConnectionGiven[] = "Попытки соединения прерваны";
constexpr char kFailed[] = "Неудачное завершение Обновления 4620/67k22.";

// The jump into the loader and the erase, up to four times; true once the
// loader has answered the erase.
bool Erase(Exchange& x, const LoaderPlan& plan) {
  for (int t = 1; t <= kEraseTries; ++t) {
    x.Log("Команда-\"Перейти в загрузчик 4620/67k22\".");
    x.RequestTarget(plan.jump, kNoAnswer, 1000);  // a pause of a second, shorter if aborted
    // An abort during the pause must not let the erase go out after it.
    if (x.Aborted()) {
      x.Log(kConnectionGiven);
      return false;
    }
    x.Log("Команда-\"Очистить\".");
    const bool answered = x.RequestTarget(plan.erase, kCodeEraseAnswer, 10000);
    if (x.Aborted()) {
      x.Log(kConnectionGiven);
      return false;
    }
    if (answered && EraseAnswered(x.Answer())) {
      x.Log("Очистка-OK.");
      return true;
    }
    x.Log(console::Format("Обновление 4620/67k22 запрещено или нет ответа от прибора N-%d", t));
  }
  x.Log(kConnectionGiven);
  return false;
}

// Every packet in turn, up to seven sends each; true when the loader took all.
bool Program(Exchange& x, const LoaderPlan& plan) {
  x.Log("Программирование.");
  const int size = int(plan.fileSize);
  x.Operation(size, 0);
  int taken = 0;
  for (const LoaderPacket& p : plan.packets) {
    bool ok = false;
    for (int i = 0; i < kPacketTries && !ok; ++i) {
      if (i > 0) x.Log(console::Format("Повтор пакета N-%d", taken));
      const bool answered = x.RequestTarget(p.bytes, kCodePacketAnswer, 4000);
      if (x.Aborted()) return false;
      if (!answered) continue;
      if (PacketTaken(x.Answer(), p)) {
        ++taken;
        x.Operation(size, int(p.fileOffset));
        ok = true;
      } else {
        x.Log(console::Format("Не сошлась контрольная сумма в пакете N-%d", taken));
      }
    }
    if (!ok) return false;
  }
  return true;
}

}  // namespace

std::string FirmwareFileNotFound(const std::string& path) {
  return "Загрузочный файл 4620/67k22-> (" + path + ") не найден. Уточните путь к файлу.";
}

bool UpdateMainController(Exchange& x, const std::string& fileName, std::string_view fileBytes) {
  // The whole file is read before the device hears anything of the update.
  HexRefusal refusal;
  const auto file = ReadFirmwareHex(fileBytes, &refusal);
  if (!file) {
    x.Log("Ош.Не верный формат HEX файла.");
    x.Log(refusal.reason);
    x.Log(kFailed);
    return false;
  }
  if (!QueryVersions(x) || x.Aborted()) return false;
  x.Operation(10, 0);
  const uint8_t chip = x.Shared().GlChipKind;
  if (const std::string why = FirmwareNameRefusal(fileName, chip); !why.empty()) {
    x.Log(why);
    return false;
  }
  std::string why;
  const auto plan = PlanMainControllerUpdate(*file, chip, &why);
  if (!plan) {
    x.Log(why);
    return false;
  }
  if (!Erase(x, *plan)) return false;
  if (!Program(x, *plan)) {
    x.Log(kFailed);
    return false;
  }
  x.Log("Обновление успешно завершено.");
  return true;
}

}  // namespace maintenance
