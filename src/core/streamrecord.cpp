#include "core/streamrecord.h"

#include <cstdio>

#include "core/ini.h"
#include "core/paths.h"

namespace lentar {

namespace {

// One section per port and buffer; the port's name is part of the section
// name, with the bytes that would end a section header replaced.
std::string SectionFor(const std::string& port, int buffer) {
  std::string name = "Buffer" + std::to_string(buffer + 1) + " ";
  for (char c : port) name += (c == ']' || c == '[' || c == '\r' || c == '\n') ? '_' : c;
  return name;
}

}  // namespace

std::string StreamRecordPath(const std::string& settingsPath) {
  return FilePathOf(settingsPath) + "lentar-streams.ini";
}

std::string ImageDigest(const uint8_t* data, size_t size) {
  uint64_t h = 0xcbf29ce484222325ULL;
  for (size_t i = 0; i < size; ++i) {
    h ^= data[i];
    h *= 0x100000001b3ULL;
  }
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(h));
  return text;
}

bool NoteStreamStart(const std::string& recordPath, const std::string& port, int buffer,
                     const uint8_t* image, size_t size) {
  return NoteUploadStart(recordPath, port, buffer, image, size, UploadNote{});
}

bool NoteUploadStart(const std::string& recordPath, const std::string& port, int buffer,
                     const uint8_t* image, size_t size, const UploadNote& note) {
  IniFile ini;
  ini.Load(recordPath);
  const std::string section = SectionFor(port, buffer);
  ini.EraseSection(section);
  ini.WriteInteger(section, "Size", static_cast<int64_t>(size));
  ini.WriteString(section, "Digest", ImageDigest(image, size));
  // A streamed note has no "Confirmed": older notes read as streamed.
  if (note.acknowledged)
    ini.WriteInteger(section, "Confirmed", static_cast<int64_t>(note.confirmed));
  if (note.start) ini.WriteInteger(section, "Start", 1);
  return ini.Save(recordPath);
}

bool NoteConfirmedBlocks(const std::string& recordPath, const std::string& port, int buffer,
                         size_t confirmed) {
  IniFile ini;
  if (!ini.Load(recordPath)) return false;
  const std::string section = SectionFor(port, buffer);
  if (!ini.HasKey(section, "Confirmed")) return false;
  ini.WriteInteger(section, "Confirmed", static_cast<int64_t>(confirmed));
  return ini.Save(recordPath);
}

ResumeCheck CheckResume(const std::string& recordPath, const std::string& port, int buffer,
                        const uint8_t* image, size_t size, UploadNote* note) {
  IniFile ini;
  if (!ini.Load(recordPath)) return ResumeCheck::Unknown;
  const std::string section = SectionFor(port, buffer);
  if (!ini.HasKey(section, "Size") || !ini.HasKey(section, "Digest")) return ResumeCheck::Unknown;
  const bool same = ini.ReadInteger(section, "Size", -1) == static_cast<int64_t>(size) &&
                    ini.ReadString(section, "Digest", "") == ImageDigest(image, size);
  if (!same) return ResumeCheck::Different;
  if (note) {
    *note = UploadNote{};
    note->acknowledged = ini.HasKey(section, "Confirmed");
    // A damaged count never skips a block the board may lack.
    const int64_t confirmed = ini.ReadInteger(section, "Confirmed", 0);
    note->confirmed = confirmed > 0 ? static_cast<size_t>(confirmed) : 0;
    note->start = ini.ReadInteger(section, "Start", 0) != 0;
  }
  return ResumeCheck::Same;
}

bool ForgetStream(const std::string& recordPath, const std::string& port, int buffer) {
  IniFile ini;
  if (!ini.Load(recordPath)) return true;
  const std::string section = SectionFor(port, buffer);
  if (!ini.HasSection(section)) return true;
  ini.EraseSection(section);
  return ini.Save(recordPath);
}

}  // namespace lentar
