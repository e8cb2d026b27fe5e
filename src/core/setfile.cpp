#include "core/setfile.h"

#include "core/atomicfile.h"
#include "core/textutil.h"

namespace lentar {

namespace {

constexpr Cp1251Literal kOpenFailed(u8"Не могу открыть файл ");
constexpr Cp1251Literal kSaveFailed(u8"Не могу сохранить файл ");

}  // namespace

bool LoadSetFile(const std::string& path, std::string& text) {
  return ReadFileCapped(path, kMaxSetFileSize, text) == ReadOutcome::Ok;
}

bool SaveSetFile(const std::string& path, std::string_view text) {
  return WriteFileAtomically(path, text);
}

std::string OpenFailedMessage(std::string_view path) {
  std::string message(kOpenFailed.view());
  message.append(path);
  return message;
}

std::string SaveFailedMessage(std::string_view path) {
  std::string message(kSaveFailed.view());
  message.append(path);
  return message;
}

void AddRecent(std::array<std::string, 10>& history, std::string_view name) {
  const std::string trimmed = TrimBlanks(name);
  if (trimmed.empty()) return;
  const std::string key = UpperCase(trimmed);
  size_t p = history.size() - 1;  // no match: the last entry drops out
  for (size_t i = 0; i < history.size(); ++i) {
    if (UpperCase(TrimBlanks(history[i])) == key) {
      p = i;
      break;
    }
  }
  for (size_t k = p; k > 0; --k) history[k] = std::move(history[k - 1]);
  history[0] = trimmed;
}

void AddRecent(TSettings& settings, std::string_view name) { AddRecent(settings.ProjHistory, name); }

}  // namespace lentar
