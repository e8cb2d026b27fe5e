// The upload of a data image to a board, as one operation: the board window
// ("Загрузка") and lentar-cli board upload both run it.
//
// The sequence: measure the link (which also sets the pace of streamed
// blocks), read the buffer information, check that the chosen buffer holds
// the image, set the clear-on-switch option, read the status and enter the
// board's password when it asks for one, switch a direct line to the loading
// speed, connect, clear the buffer (not when completing an interrupted
// streamed upload: the board's block map vouches for what it holds), send
// the image, read the buffer information back, start the buffer when asked
// or when nothing was playing, and return a direct line to its base speed.
//
// A streamed upload notes the size and digest of its image per port and
// buffer beside the settings (core/streamrecord.h); completing an
// interrupted one is allowed only for the very image noted, since the
// board's block map cannot tell one image from another.
//
// Nothing here shows a message or asks anything itself: the password, the
// wrong-password notice, the progress and the moments a window must know
// about come through the hooks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "comm/boardprotocol.h"

namespace lentar::comm {

struct UploadOptions {
  int buffer = 0;           // 0 = buffer 1, 1 = buffer 2
  // Through a modem: pauses between the preparing commands, streamed blocks
  // repaired from the board's block map, DSR watched, no speed switch.
  bool modem = false;
  // A streamed upload on a direct line (as over a modem, without the pauses
  // and without watching DSR).
  bool streamed = false;
  // Streamed only: false completes an interrupted upload of the same image
  // ("Дозагрузка") instead of starting afresh ("Полная").
  bool full = true;
  // The board's clear-on-switch option, set before the upload; nullopt
  // leaves the board's own setting alone.
  std::optional<bool> clearOnSwitch;
  bool restart = false;        // start the buffer after the upload
  // Direct line: base and loading speed (settings BaseSpeed and DLSpeed,
  // 0 = 9600 .. 4 = 57600).
  int baseSpeed = 0;
  int loadSpeed = 0;
  // The notes of streamed uploads (StreamRecordPath) and the port they are
  // kept under; without a file no note is kept and no resume is allowed.
  std::string streamRecord;
  std::string portName;
};

struct UploadHooks {
  ProgressFn progress;
  // The board asks for its password: the password to enter, or nullopt when
  // the operator declined.
  std::function<std::optional<std::string>()> choosePassword;
  // The board refused the password entered.
  std::function<void()> passwordRefused;
  // The preparation is over and the image is about to go out.
  std::function<void()> transferStarts;
  // Everything succeeded; called before a direct line returns to its base
  // speed, so that the board can still be read at the loading speed.
  std::function<void()> succeeded;
};

enum class UploadOutcome {
  Done,
  BadImage,          // empty, or larger than a board holds
  ResumeUnknown,     // no interrupted streamed upload into that buffer is noted
  ResumeDifferent,   // another image was being streamed into that buffer
  BufferTooSmall,    // nothing was changed on the board
  NoLink,            // the board did not answer while preparing
  PasswordDeclined,  // the board asked for a password and none was given
  PasswordRefused,   // the board refused the password
  TransferFailed,    // the image did not arrive whole (or was not confirmed)
};

struct UploadReport {
  UploadOutcome outcome = UploadOutcome::NoLink;
  int capacity = 0;          // of the chosen buffer, once read
  bool startAsked = false;   // the buffer was to be started after the upload
  bool started = false;      // ... and the board acknowledged the start
  bool noteFailed = false;   // the streamed upload could not be noted
  ReplyFault fault;          // NoLink: why the board's answer was missing
};

// The reason of a failed upload as the operator reads it in a message box
// (Windows-1251): "Недостаточный размер буфера!", "Ошибка связи с
// контроллером!", "Ошибка соединения!" or why a resume is refused; empty
// for Done and BadImage.
std::string UploadFailureText(UploadOutcome outcome);

// Before talking to a board over a direct line: the port follows the link
// speed (BaseSpeed; anything outside 9600..57600 is 9600), then the queues
// are purged and the board given a second to settle.
void PreparePortRate(TComPort& port, int baseSpeed, int settleMs = 1000);

// Runs the whole upload over port with the AddressByte the caller has set.
UploadReport UploadImage(TComPort& port, const uint8_t* image, size_t size,
                         const UploadOptions& options, const UploadHooks& hooks = {});

}  // namespace lentar::comm
