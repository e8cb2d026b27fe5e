// What was last being uploaded into each board buffer, so that an
// interrupted upload can be completed ("Дозагрузка") with the very image it
// was sending.
//
// A streamed upload (over a modem) may be interrupted and later completed:
// the board reports which 128-byte blocks it holds and only the missing ones
// are sent. The board's map says nothing about which image those blocks came
// from, so completing it with another image of the same size would leave a
// mixture on the board and still end "successfully". An acknowledged upload
// (a direct line) leaves no map at all: only the program knows how many
// leading blocks the board confirmed. The program therefore notes the size
// and a digest of every image whose upload it starts, per port and buffer, in
// a small file beside the settings, with the blocks an acknowledged upload got
// confirmed and whether the buffer was to be started at the end; a resume is
// only allowed for the very image noted there. A completed upload removes its
// note.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace lentar {

// The file of the notes beside a settings file: the same folder,
// "lentar-streams.ini".
std::string StreamRecordPath(const std::string& settingsPath);

// A digest of an image: 16 hexadecimal digits (FNV-1a, 64 bits). Not a
// protection against a forger, only a way to tell two images apart.
std::string ImageDigest(const uint8_t* data, size_t size);

enum class ResumeCheck {
  Same,       // the noted image is this one: the resume may go on
  Different,  // another image was streamed into that buffer
  Unknown,    // nothing is noted for that port and buffer
};

// How an upload that was noted went.
struct UploadNote {
  // Blocks acknowledged one by one (a direct line); otherwise streamed, and
  // the board's block map tells what arrived.
  bool acknowledged = false;
  // Acknowledged: the leading blocks the board confirmed.
  size_t confirmed = 0;
  // The buffer is to be started (shown) once the image is complete.
  bool start = false;
};

// Notes that streaming of the image into buffer (0 or 1) on port starts.
// False when the notes file could not be written.
bool NoteStreamStart(const std::string& recordPath, const std::string& port, int buffer,
                     const uint8_t* image, size_t size);
// Notes that an upload of the image into buffer on port starts, as note says.
bool NoteUploadStart(const std::string& recordPath, const std::string& port, int buffer,
                     const uint8_t* image, size_t size, const UploadNote& note);
// Updates the confirmed blocks of the acknowledged upload noted for port and
// buffer (nothing when none is noted).
bool NoteConfirmedBlocks(const std::string& recordPath, const std::string& port, int buffer,
                         size_t confirmed);
// Compares the image with the note for port and buffer; for Same, note (when
// given) receives how that upload went.
ResumeCheck CheckResume(const std::string& recordPath, const std::string& port, int buffer,
                        const uint8_t* image, size_t size, UploadNote* note = nullptr);
// Removes the note for port and buffer (the upload was completed, so the
// board's map no longer stands for it). False when the file could not be
// written.
bool ForgetStream(const std::string& recordPath, const std::string& port, int buffer);

}  // namespace lentar
