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
  IniFile ini;
  ini.Load(recordPath);
  const std::string section = SectionFor(port, buffer);
  ini.EraseSection(section);
  ini.WriteInteger(section, "Size", static_cast<int64_t>(size));
  ini.WriteString(section, "Digest", ImageDigest(image, size));
  return ini.Save(recordPath);
}

ResumeCheck CheckResume(const std::string& recordPath, const std::string& port, int buffer,
                        const uint8_t* image, size_t size) {
  IniFile ini;
  if (!ini.Load(recordPath)) return ResumeCheck::Unknown;
  const std::string section = SectionFor(port, buffer);
  if (!ini.HasKey(section, "Size") || !ini.HasKey(section, "Digest")) return ResumeCheck::Unknown;
  const bool same = ini.ReadInteger(section, "Size", -1) == static_cast<int64_t>(size) &&
                    ini.ReadString(section, "Digest", "") == ImageDigest(image, size);
  return same ? ResumeCheck::Same : ResumeCheck::Different;
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
