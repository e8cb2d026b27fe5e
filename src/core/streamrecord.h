// What was last streamed into each board buffer, so that a resumed upload
// can tell whether the board's block map belongs to the image at hand.
//
// A streamed upload (over a modem) may be interrupted and later completed:
// the board reports which 128-byte blocks it holds and only the missing ones
// are sent. The board's map says nothing about which image those blocks came
// from, so completing it with another image of the same size would leave a
// mixture on the board and still end "successfully". The program therefore
// notes the size and a digest of every image whose streaming it starts, per
// port and buffer, in a small file beside the settings, and a resume is only
// allowed for the very image noted there. A completed upload removes its note.
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

// Notes that streaming of the image into buffer (0 or 1) on port starts.
// False when the notes file could not be written.
bool NoteStreamStart(const std::string& recordPath, const std::string& port, int buffer,
                     const uint8_t* image, size_t size);
// Compares the image with the note for port and buffer.
ResumeCheck CheckResume(const std::string& recordPath, const std::string& port, int buffer,
                        const uint8_t* image, size_t size);
// Removes the note for port and buffer (the upload was completed, so the
// board's map no longer stands for it). False when the file could not be
// written.
bool ForgetStream(const std::string& recordPath, const std::string& port, int buffer);

}  // namespace lentar
