// lentar-cli preview: runs the board emulation on a set file and writes what
// the board would show, for sending a client a preview: an animated GIF that
// plays in board time, numbered PNG pictures, or the raw colour indexes of
// the frames for checks from outside.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "cli/cli_common.h"
#include "cli/commands.h"
#include "cli/preview_writers.h"
#include "core/dates.h"
#include "core/paths.h"
#include "core/textutil.h"
#include "markup/compiler.h"
#include "markup/emulation.h"
#include "markup/fonts.h"
#include "markup/project.h"

namespace lentar::cli {

namespace {

constexpr std::string_view kCommand = "preview";
constexpr long long kDefaultMaxSeconds = 60;
constexpr int kFramesPerSecond = 1000 / kFrameMilliseconds;
constexpr int kAutoPictureWidth = 960;   // pixels a preview aims at by default

void PrintHelp() {
  std::printf(
      "Использование: lentar-cli preview НАБОР (--gif ВЫВОД.gif | --png-dir ПАПКА | --raw ФАЙЛ)\n"
      "                          [--every N] [--max-seconds S] [--font-height H]\n"
      "                          [--channels C] [--columns N] [--speed V] [--ini ФАЙЛ]\n"
      "                          [--at \"ГГГГ-ММ-ДД чч:мм:сс\"] [--fonts АРХИВ]\n"
      "                          [--pitch PX] [--led round|square]\n"
      "\n"
      "Запускает эмуляцию табло на файле набора НАБОР и записывает, что\n"
      "показывает табло: светодиоды цветами каналов на чёрном. Табло показывает\n"
      "100 кадров в секунду времени табло (по 10 мс).\n"
      "\n"
      "  --gif ВЫВОД.gif   анимированный GIF, по кругу, идущий во времени табло\n"
      "  --png-dir ПАПКА   по PNG на записанный кадр, ПАПКА/frame-NNNNNN.png, где\n"
      "                    NNNNNN номер кадра (время табло / 10 мс)\n"
      "  --raw ФАЙЛ        номера цветов кадров: на кадр столбцы x строки байт,\n"
      "                    столбец за столбцом, каждый от верхней строки вниз\n"
      "  --every N         записывать кадры 0, N, 2N, ... (по умолчанию: 4 для --gif,\n"
      "                    10 для --png-dir, 1 для --raw); кадр GIF длится N/100 с\n"
      "  --max-seconds S   остановиться через S секунд времени табло, 0 = до конца\n"
      "                    текста (по умолчанию %lld)\n"
      "  --font-height H   высота шрифта в байтах по 8 строк, 1..4 (по умолчанию:\n"
      "                    DefFontHeight)\n"
      "  --channels C      цветовых каналов на точку, 1..8 (по умолчанию:\n"
      "                    ColorChannelCount)\n"
      "  --columns N       длина табло в столбцах, 8..2016 (по умолчанию: DispLen)\n"
      "  --speed V         начальный уровень скорости, 1..5 (по умолчанию: Speed)\n"
      "  --ini ФАЙЛ        файл настроек (по умолчанию: lentar.ini программы)\n"
      "  --at ВРЕМЯ        часы табло в начале, для значений времени и даты\n"
      "                    (по умолчанию: сейчас); идут дальше со временем табло\n"
      "  --fonts АРХИВ     архив шрифтов (по умолчанию: DefFontArc, иначе\n"
      "                    поставляемый)\n"
      "  --pitch PX        шаг светодиода в пикселях, 1..38 (по умолчанию: чтобы\n"
      "                    уложиться в %d пикселей)\n"
      "  --led ФОРМА       round (круглые, по умолчанию) или square (квадратные)\n"
      "\n"
      "Код выхода: 0 записано, 1 отказ (набор или шрифты не читаются, нет шрифта\n"
      "этой высоты, ошибка записи), 2 ошибка вызова.\n",
      kDefaultMaxSeconds, kAutoPictureWidth);
}

// "YYYY-MM-DD hh:mm:ss" (seconds optional) with a real date and time.
std::optional<DateTime> ParseMoment(const std::string& text) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  char tail = 0;
  const int n = std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &year, &month, &day, &hour,
                            &minute, &second, &tail);
  if (n != 5 && n != 6) return std::nullopt;
  if (n == 5) {
    const int m = std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d%c", &year, &month, &day, &hour,
                              &minute, &tail);
    if (m != 5) return std::nullopt;
  }
  if (DateToDays(TDateRec{day, month, year}) == 0) return std::nullopt;
  if (hour < 0 || hour > 23 || minute < 0 || minute > 59 || second < 0 || second > 59)
    return std::nullopt;
  // The day of the week is left to the clock that counts from this moment.
  return DateTime{
      .year = year, .month = month, .day = day, .hour = hour, .minute = minute, .second = second};
}

// A progress bar on the terminal, redrawn at most ten times a second; silent
// when the error stream is not a terminal.
class ProgressBar {
 public:
  ProgressBar() : enabled_(StderrIsTerminal()) {}
  void Show(double fraction, int64_t boardMs, bool force = false) {
    if (!enabled_) return;
    const auto now = std::chrono::steady_clock::now();
    if (!force && now - last_ < std::chrono::milliseconds(100)) return;
    last_ = now;
    fraction = std::clamp(fraction, 0.0, 1.0);
    constexpr int kWidth = 30;
    const int filled = static_cast<int>(fraction * kWidth);
    std::string bar(static_cast<size_t>(filled), '#');
    bar.resize(kWidth, '.');
    std::fprintf(stderr, "\r[%s] %3d%%  %.1f с времени табло", bar.c_str(),
                 static_cast<int>(fraction * 100), static_cast<double>(boardMs) / 1000.0);
    std::fflush(stderr);
    shown_ = true;
  }
  void Finish() {
    if (shown_) std::fputs("\r\033[K", stderr);
  }

 private:
  bool enabled_;
  bool shown_ = false;
  std::chrono::steady_clock::time_point last_{};
};

struct PreviewOptions {
  std::string gif, pngDir, raw;
  long long every = 1;
  long long maxSeconds = kDefaultMaxSeconds;
  std::optional<long long> columns, speed, pitch;
  bool round = true;
  std::optional<DateTime> at;
};

bool ReadPreviewOptions(const ParsedArgs& parsed, PreviewOptions& options, int& exitCode) {
  int outputs = 0;
  if (parsed.Has("gif")) options.gif = parsed.values.at("gif"), ++outputs;
  if (parsed.Has("png-dir")) options.pngDir = parsed.values.at("png-dir"), ++outputs;
  if (parsed.Has("raw")) options.raw = parsed.values.at("raw"), ++outputs;
  if (outputs != 1) {
    exitCode = UsageError(kCommand, outputs == 0 ? "укажите одно из --gif, --png-dir, --raw"
                                                 : "укажите только одно из --gif, --png-dir, --raw");
    return false;
  }
  options.every = !options.gif.empty() ? 4 : !options.pngDir.empty() ? 10 : 1;
  struct NumberOption {
    const char* name;
    long long lo, hi;
  };
  static constexpr NumberOption kNumbers[] = {{"every", 1, 100000},
                                              {"max-seconds", 0, 10000},
                                              {"columns", 8, 2016},
                                              {"speed", 1, 5},
                                              {"pitch", 1, 38}};
  for (const NumberOption& n : kNumbers) {
    if (!parsed.Has(n.name)) continue;
    const std::string& text = parsed.values.at(n.name);
    const auto value = ParseNumber(text, n.lo, n.hi);
    if (!value) {
      exitCode = UsageError(kCommand, "--" + std::string(n.name) + " должен быть целым числом " +
                                          std::to_string(n.lo) + ".." + std::to_string(n.hi) +
                                          ", а не '" + text + "'");
      return false;
    }
    const std::string_view name = n.name;
    if (name == "every") options.every = *value;
    if (name == "max-seconds") options.maxSeconds = *value;
    if (name == "columns") options.columns = *value;
    if (name == "speed") options.speed = *value;
    if (name == "pitch") options.pitch = *value;
  }
  if (parsed.Has("led")) {
    const std::string& shape = parsed.values.at("led");
    if (shape != "round" && shape != "square") {
      exitCode = UsageError(kCommand, "--led бывает round или square, а не '" + shape + "'");
      return false;
    }
    options.round = shape == "round";
  }
  if (parsed.Has("at")) {
    options.at = ParseMoment(parsed.values.at("at"));
    if (!options.at) {
      exitCode = UsageError(kCommand, "--at ждёт дату и время как \"ГГГГ-ММ-ДД чч:мм:сс\", а не '" +
                                          parsed.values.at("at") + "'");
      return false;
    }
  }
  return true;
}

// Where the frames go. Each sink sees the sampled frames in order.
class FrameSink {
 public:
  virtual ~FrameSink() = default;
  virtual bool Open(std::string& error) = 0;
  // frame: the board's colour indexes; number: the frame's number in the run.
  virtual bool Add(const uint8_t* frame, size_t size, uint32_t number, std::string& error) = 0;
  // framesShown: frames of the whole run (the last sample lasts until then).
  virtual bool Close(uint32_t framesShown, std::string& error) = 0;
  virtual std::string Summary() const = 0;
};

class RawSink : public FrameSink {
 public:
  explicit RawSink(const std::string& path) : path_(path) {}
  bool Open(std::string& error) override {
    if (file_.Open(CorePath(path_))) return true;
    error = "не удаётся записать '" + path_ + "'";
    return false;
  }
  bool Add(const uint8_t* frame, size_t size, uint32_t, std::string& error) override {
    if (file_.Write(std::string_view(reinterpret_cast<const char*>(frame), size))) {
      ++frames_;
      return true;
    }
    error = "не удаётся записать '" + path_ + "'";
    return false;
  }
  bool Close(uint32_t, std::string& error) override {
    if (file_.Commit()) return true;
    error = "не удаётся записать '" + path_ + "'";
    return false;
  }
  std::string Summary() const override {
    return path_ + ": " + std::to_string(frames_) + " " +
           RussianCountForm(frames_, "кадр", "кадра", "кадров") + " (номера цветов)";
  }

 private:
  std::string path_;
  AtomicFileWriter file_;
  uint32_t frames_ = 0;
};

class PngSink : public FrameSink {
 public:
  PngSink(std::string dir, const BoardEmulation& board, const LedStyle& style)
      : dir_(std::move(dir)), painter_(board, style) {}
  bool Open(std::string& error) override {
    std::error_code ec;
    std::filesystem::create_directories(NativePath(CorePath(dir_)), ec);
    if (ec) {
      error = "не удаётся создать папку '" + dir_ + "'";
      return false;
    }
    return true;
  }
  bool Add(const uint8_t* frame, size_t, uint32_t number, std::string& error) override {
    painter_.Paint(frame);
    std::string png;
    if (!EncodePng(painter_, png)) {
      error = "не удаётся закодировать картинку PNG";
      return false;
    }
    char name[32];
    std::snprintf(name, sizeof name, "frame-%06u.png", static_cast<unsigned>(number));
    std::string path = dir_;
    if (!path.empty() && path.back() != '/' && path.back() != kPathSeparator) path += kPathSeparator;
    path += name;
    int status = kExitOk;
    if (!WriteOutputFile(kCommand, path, png, status)) {
      error.clear();  // already reported
      return false;
    }
    ++files_;
    return true;
  }
  bool Close(uint32_t, std::string&) override { return true; }
  std::string Summary() const override {
    return dir_ + ": " + std::to_string(files_) + " " +
           RussianCountForm(files_, "картинка", "картинки", "картинок") + " PNG " +
           std::to_string(painter_.Width()) + " x " + std::to_string(painter_.Height()) +
           " пикселей";
  }

 private:
  std::string dir_;
  BoardPainter painter_;
  uint32_t files_ = 0;
};

// Consecutive identical samples become one GIF frame with their delays added,
// so a pause costs one picture, not hundreds.
class GifSink : public FrameSink {
 public:
  GifSink(const std::string& path, const BoardEmulation& board, const LedStyle& style)
      : path_(path), painter_(board, style), frameSize_(board.FrameSize()),
        writer_(path, painter_.Width(), painter_.Height(), painter_.Palette()) {}
  bool Open(std::string& error) override { return writer_.Open(error); }
  bool Add(const uint8_t* frame, size_t size, uint32_t number, std::string& error) override {
    if (havePending_ && std::memcmp(pendingFrame_.data(), frame, size) == 0) return true;
    if (havePending_ && !Flush(number, error)) return false;
    pendingFrame_.assign(frame, frame + size);
    pendingNumber_ = number;
    havePending_ = true;
    return true;
  }
  bool Close(uint32_t framesShown, std::string& error) override {
    if (!havePending_) {
      // A run without frames still gives a valid picture: the dark board.
      pendingFrame_.assign(frameSize_, 0);
      pendingNumber_ = 0;
      havePending_ = true;
      framesShown = std::max<uint32_t>(framesShown, 1);
    }
    if (!Flush(framesShown, error)) return false;
    return writer_.Close(error);
  }
  std::string Summary() const override {
    return path_ + ": " + std::to_string(pictures_) + " " +
           RussianCountForm(pictures_, "кадр", "кадра", "кадров") + " GIF " +
           std::to_string(painter_.Width()) + " x " + std::to_string(painter_.Height()) +
           " пикселей";
  }
 private:
  bool Flush(uint32_t until, std::string& error) {
    painter_.Paint(pendingFrame_.data());
    const int delay = static_cast<int>(until > pendingNumber_ ? until - pendingNumber_ : 1);
    if (!writer_.AddFrame(painter_.Pixels(), delay)) {
      error = "не удаётся записать '" + path_ + "'";
      return false;
    }
    ++pictures_;
    return true;
  }

  std::string path_;
  BoardPainter painter_;
  size_t frameSize_;
  GifWriter writer_;
  std::vector<uint8_t> pendingFrame_;
  uint32_t pendingNumber_ = 0;
  bool havePending_ = false;
  uint32_t pictures_ = 0;
};

}  // namespace

int RunPreview(const Args& args) {
  std::string error;
  const auto parsed = ParseOptions(args,
                                   {{"gif"}, {"png-dir"}, {"raw"}, {"every"}, {"max-seconds"},
                                    {"font-height"}, {"channels"}, {"columns"}, {"speed"},
                                    {"ini"}, {"at"}, {"fonts"}, {"pitch"}, {"led"}},
                                   error);
  if (!parsed) return UsageError(kCommand, error);
  if (parsed->help) {
    PrintHelp();
    return kExitOk;
  }
  if (parsed->positional.size() != 1) {
    return UsageError(kCommand, parsed->positional.empty() ? "не указан файл набора"
                                                           : "указано больше одного файла набора");
  }
  const std::string setPath = parsed->positional[0];
  int status = kExitOk;
  PreviewOptions options;
  if (!ReadPreviewOptions(*parsed, options, status)) return status;
  for (const std::string* out : {&options.gif, &options.raw}) {
    if (!out->empty() && IsSameFile(*out, setPath))
      return UsageError(kCommand, "вывод '" + *out + "' заменил бы файл набора");
    if (!out->empty() &&
        RefuseReplacingInputs(kCommand, *out,
                              {{"файл настроек", SettingsPathFor(*parsed)},
                               {"архив шрифтов",
                                parsed->Has("fonts") ? parsed->values.at("fonts") : std::string()}},
                              status))
      return status;
  }

  LoadedSettings loaded;
  {
    int settingsStatus = kExitOk;
    if (!LoadSettingsToRead(kCommand, *parsed, loaded, settingsStatus)) return settingsStatus;
  }
  CompileOptions compileOptions;
  if (!ResolveCompileOptions(kCommand, *parsed, loaded.settings, compileOptions, status)) return status;

  // The emulation compiles as the editor does, without the size limit.
  std::string text;
  if (!ReadInputFile(kCommand, setPath, text, status)) return status;
  CompileResult compiled =
      CompileBoardData(text, compileOptions.fontHeight, compileOptions.channels, SIZE_MAX);

  TRecProject project;
  project.LoadFromSettings(loaded.settings);
  if (parsed->Has("fonts")) project.FontArchive = CorePath(parsed->values.at("fonts"));
  project.SetFontHeight(compileOptions.fontHeight);
  if (!project.LoadFonts()) return Refuse(kCommand, Cp1251ToUtf8(project.FontError));
  project.SetDefaultFont(loaded.settings.DefFont);

  EmulationSetup setup = EmulationSetup::FromSettings(loaded.settings);
  setup.fontHeightBytes = compileOptions.fontHeight;
  setup.channelCount = compileOptions.channels;
  if (options.columns) setup.boardColumns = static_cast<int>(*options.columns);
  if (options.speed) setup.speedLevel = static_cast<int>(*options.speed);
  const DateTime start = options.at ? *options.at : LocalEmulationTime(0);

  BoardEmulation board(std::move(compiled.image), project.Fonts(), setup,
                       FixedStartClock(start));
  if (board.Refused()) return Refuse(kCommand, Cp1251ToUtf8(board.RefusalMessage()));

  LedStyle style;
  style.pitch = options.pitch ? static_cast<int>(*options.pitch)
                              : std::clamp(kAutoPictureWidth / board.BoardColumns(), 2, 10);
  style.ledSize = LedSizeForPitch(style.pitch);
  style.round = options.round;

  std::unique_ptr<FrameSink> sink;
  if (!options.raw.empty()) {
    sink = std::make_unique<RawSink>(options.raw);
  } else if (!options.pngDir.empty()) {
    sink = std::make_unique<PngSink>(options.pngDir, board, style);
  } else {
    sink = std::make_unique<GifSink>(options.gif, board, style);
  }
  if (!sink->Open(error)) return Refuse(kCommand, error);

  const uint64_t frameCap = static_cast<uint64_t>(options.maxSeconds) * kFramesPerSecond;
  const auto every = static_cast<uint32_t>(options.every);
  ProgressBar progress;
  uint32_t shown = 0;
  bool capped = false;
  while (true) {
    if (frameCap != 0 && shown >= frameCap) {
      capped = !board.Finished();
      break;
    }
    if (!board.Step()) break;
    const uint32_t number = shown++;
    if (number % every == 0 && !sink->Add(board.Frame(), board.FrameSize(), number, error)) {
      progress.Finish();
      return error.empty() ? kExitRefused : Refuse(kCommand, error);
    }
    if ((shown & 1023) == 0) {
      const double fraction =
          frameCap != 0 ? static_cast<double>(shown) / static_cast<double>(frameCap)
                        : static_cast<double>(board.ReadPosition()) /
                              static_cast<double>(std::max<size_t>(board.ImageSize(), 1));
      progress.Show(fraction, board.ElapsedMs());
    }
  }
  progress.Finish();
  if (!sink->Close(shown, error)) return error.empty() ? kExitRefused : Refuse(kCommand, error);

  std::printf("%s\n", sink->Summary().c_str());
  std::printf("%u %s, %.2f с времени табло, табло %d x %d, %d %s; %s\n", shown,
              RussianCountForm(shown, "кадр", "кадра", "кадров"),
              static_cast<double>(shown) * kFrameMilliseconds / 1000.0, board.BoardColumns(),
              board.RowsPerColumn(), board.ChannelCount(),
              RussianCountForm(board.ChannelCount(), "канал", "канала", "каналов"),
              capped ? "остановлено по --max-seconds"
              : board.Result() < 0 ? "остановлено на пределе кадров"
                                   : "текст закончился");
  return kExitOk;
}

}  // namespace lentar::cli
