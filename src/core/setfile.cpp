#include "core/setfile.h"

#include "core/atomicfile.h"
#include "core/textutil.h"

namespace lentar {

namespace {

// "Не могу открыть файл " and "Не могу сохранить файл " in Windows-1251.
constexpr std::string_view kOpenFailed = "\xCD\xE5 \xEC\xEE\xE3\xF3 \xEE\xF2\xEA\xF0\xFB\xF2\xFC \xF4\xE0\xE9\xEB ";
constexpr std::string_view kSaveFailed =
    "\xCD\xE5 \xEC\xEE\xE3\xF3 \xF1\xEE\xF5\xF0\xE0\xED\xE8\xF2\xFC \xF4\xE0\xE9\xEB ";

}  // namespace

bool LoadSetFile(const std::string& path, std::string& text) { return ReadWholeFile(path, text); }

bool SaveSetFile(const std::string& path, std::string_view text) {
  return WriteFileAtomically(path, text);
}

std::string OpenFailedMessage(std::string_view path) {
  std::string message(kOpenFailed);
  message.append(path);
  return message;
}

std::string SaveFailedMessage(std::string_view path) {
  std::string message(kSaveFailed);
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
