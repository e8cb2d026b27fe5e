// Writing lentar.ini while the editor runs.
//
// The editor's main window owns the settings file: it reads it when it first
// shows and knows whether the file may be replaced (a file it could not read
// is left alone). It hands this service the way it writes the file; every
// other window asks for a write through here when something lasting changed,
// so that a program started beside the editor (lentar-cli) reads the same
// settings the editor uses. Without a writer (a window shown on its own, as in
// the tests) only the record in memory changes.
#pragma once

#include <functional>

namespace lentar::gui {

// The function that writes the settings record to the settings file, given
// by its owner (the main window) when it has read the file.
void SetSettingsWriter(const void* owner, std::function<void()> writer);
// The owner's writer is removed (a writer another owner gave since stays).
void DropSettingsWriter(const void* owner);

// Writes the settings now (and drops a write that was waiting).
void WriteSettingsNow();

// Writes the settings half a second after the last of a run of calls: a
// window dragged across the screen is written once, where it stopped.
void WriteSettingsSoon();

// A write asked for by WriteSettingsSoon is still waiting.
bool SettingsWritePending();

}  // namespace lentar::gui
