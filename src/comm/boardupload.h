// The upload of a data image to a board, as one operation: the board window
// ("Загрузка") and lentar-cli board upload both run it.
//
// The sequence: measure the link (which also sets the pace of streamed
// blocks), read the buffer information, check that the chosen buffer holds
// the image, set the clear-on-switch option, read the status and enter the
// board's password when it asks for one, switch a direct line to the loading
// speed, connect, clear the buffer (not when completing an interrupted
// upload), send the image, read the buffer information back, start the
// buffer when asked or when nothing was playing, and return a direct line to
// its base speed.
//
// When the chosen buffer is the one the board is showing, clearing it would
// leave the board blank until the last block is in (for good, if the line
// fails): before anything is changed the caller is asked, and may have the
// image loaded into the other buffer instead, which is started only once the
// whole image is confirmed. The board keeps showing its set until then.
//
// Every upload notes the size and digest of its image per port and buffer
// beside the settings (core/streamrecord.h), with the blocks an acknowledged
// upload got confirmed; completing an interrupted one ("Дозагрузка") is
// allowed only for the very image noted. A streamed upload is completed from
// the board's block map, an acknowledged one from the first block the board
// did not confirm.
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
#include "comm/stopflag.h"

namespace lentar::comm {

struct UploadOptions {
  int buffer = 0;           // 0 = buffer 1, 1 = buffer 2
  // Through a modem: pauses between the preparing commands, streamed blocks
  // repaired from the board's block map, DSR watched, no speed switch.
  bool modem = false;
  // A streamed upload on a direct line (as over a modem, without the pauses
  // and without watching DSR).
  bool streamed = false;
  // false completes an interrupted upload of the same image ("Дозагрузка")
  // instead of starting afresh ("Полная"), the way it was being sent.
  bool full = true;
  // The board's clear-on-switch option, set before the upload; nullopt
  // leaves the board's own setting alone.
  std::optional<bool> clearOnSwitch;
  bool restart = false;        // start the buffer after the upload
  // Direct line: base and loading speed (settings BaseSpeed and DLSpeed,
  // 0 = 9600 .. 4 = 57600).
  int baseSpeed = 0;
  int loadSpeed = 0;
  // The notes of uploads (StreamRecordPath) and the port they are kept
  // under; without a file no note is kept and no resume is allowed.
  std::string streamRecord;
  std::string portName;
};

// The answer about a chosen buffer that the board is showing.
enum class BufferChoice {
  Chosen,  // load it all the same (the board is blank until the end)
  Other,   // load the other buffer and switch to it once the image is complete
  Cancel,  // upload nothing
};

struct UploadHooks {
  ProgressFn progress;
  // The board asks for its password: the password to enter, or nullopt when
  // the operator declined.
  std::function<std::optional<std::string>()> choosePassword;
  // The board refused the password entered.
  std::function<void()> passwordRefused;
  // A full upload's chosen buffer (0 or 1) is the one the board is showing;
  // other is the other buffer, or -1 when the image does not fit it. Asked
  // before anything is changed on the board; without a hook the chosen
  // buffer is loaded.
  std::function<BufferChoice(int shown, int other)> bufferOnShow;
  // The preparation is over and the image is about to go out.
  std::function<void()> transferStarts;
  // The image is whole on the board (Done or StartUnconfirmed); called
  // before a direct line returns to its base speed, so that the board can
  // still be read at the loading speed.
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
  Cancelled,         // the operator kept the board's set (bufferOnShow)
  TransferFailed,    // the image did not arrive whole (or was not confirmed)
  // The image is whole in its buffer, but the start of that buffer was asked
  // (or needed: nothing was playing) and the board never confirmed it: the
  // board may still be showing its previous set. Never a success.
  StartUnconfirmed,
  // The session's stop flag ended the upload at a safe point: before the
  // board was changed, or between blocks (resumable as a failed transfer).
  Interrupted,
};

struct UploadReport {
  UploadOutcome outcome = UploadOutcome::NoLink;
  int capacity = 0;          // of the buffer loaded, once read
  int buffer = 0;            // the buffer loaded (the other one, when chosen so)
  int shownBuffer = -1;      // the buffer the board showed before, -1: none
  bool resumable = false;    // a failed transfer can be completed ("Дозагрузка")
  bool startAsked = false;   // the buffer was to be started after the upload
  bool started = false;      // ... and the board acknowledged the start
  bool noteFailed = false;   // the upload could not be noted
  ReplyFault fault;          // NoLink: why the board's answer was missing
  // What the operator reads about the outcome (Windows-1251): "Загрузка
  // успешно завершена!" for Done, StartUnconfirmedText(buffer) for
  // StartUnconfirmed, else UploadFailureText.
  std::string text;
};

// "табло не подтвердило запуск буфера N" (N = buffer + 1; without a number
// for a negative buffer), Windows-1251: the one wording of StartUnconfirmed
// that the board window, lentar-cli and the fleet's log all use.
std::string StartUnconfirmedText(int buffer);

// The reason of a failed upload as the operator reads it in a message box
// (Windows-1251): "Недостаточный размер буфера!", "Ошибка связи с
// контроллером!" (the board did not answer while the upload was prepared, or
// its password was not given or refused), "Ошибка соединения!" (the image
// did not arrive whole), InterruptedText() for an upload stopped by the
// operator, StartUnconfirmedText(-1), or why a resume is refused; empty for
// Done, BadImage and Cancelled.
std::string UploadFailureText(UploadOutcome outcome);

// Before talking to a board over a direct line: the port follows the link
// speed (BaseSpeed; anything outside 9600..57600 is 9600), then the queues
// are purged and the board given a second to settle. The settling ends early
// when the session's stop flag is set: false then.
bool PreparePortRate(BoardSession& session, int baseSpeed, int settleMs = 1000);

// Opening the line to a board, the one way the windows and lentar-cli do
// it: the port opened (when the session's line is not open yet) with a
// line's reply deadline and attempts; a direct line then follows the link
// speed, is purged and the board given time to settle (PreparePortRate). A
// modem's port is only opened, with the modem's pause between bytes of a
// line: the dial sets it up.
struct BoardLinkOptions {
  std::string device;     // the port to open
  bool modem = false;     // the port is the modem's
  int baseSpeed = 0;      // setting BaseSpeed (0 = 9600 .. 4 = 57600)
  int settleMs = 1000;    // the board's settling time after the purge
};

enum class BoardLinkOutcome {
  Open,
  PortFailed,   // the port did not open (or its server dropped it at once)
  Interrupted,  // stopped while the board settled; the line is closed
};

struct BoardLinkResult {
  BoardLinkOutcome outcome = BoardLinkOutcome::PortFailed;
  // PortFailed: "Ошибка коммуникационного порта!"; Interrupted:
  // InterruptedText() (Windows-1251).
  std::string text;
  // PortFailed: why, as the system or the line told it.
  std::string reason;
};

// On failure and interruption the line is closed (CloseBoardPort).
BoardLinkResult OpenBoardLink(BoardSession& session, const BoardLinkOptions& options);

// Runs the whole upload over the session: its line, address byte, deadline
// and attempts; the measured pace of streamed blocks is left in its
// BlockDelay.
//
// The session's stop flag ends the upload at the next safe point: before the
// board is changed, between the preparing commands, between blocks (never in
// the middle of a block's exchange). The outcome is then Interrupted; a
// direct line is switched back to its base speed on every path once the
// loading speed may have been asked for; an interrupted transfer is noted
// like a failed one, so that "Дозагрузка" completes it.
UploadReport UploadImage(BoardSession& session, const uint8_t* image, size_t size,
                         const UploadOptions& options, const UploadHooks& hooks = {});

}  // namespace lentar::comm
