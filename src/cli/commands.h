// Subcommands of lentar-cli. Each takes the arguments after its own name and
// returns the process exit status: 0 success, 1 refused input, 2 usage error.
#pragma once

#include <string>
#include <vector>

namespace lentar::cli {

using Args = std::vector<std::string>;

// 130 is what a shell reports for a program ended by Ctrl+C (128 + SIGINT):
// device work stopped by Ctrl+C ends at a safe point and exits with it.
enum ExitCode { kExitOk = 0, kExitRefused = 1, kExitUsage = 2, kExitInterrupted = 130 };

int RunCompile(const Args& args);  // compile SET -> .bin image
int RunGprs(const Args& args);     // compile SET -> escaped GPRS package
int RunDump(const Args& args);     // list the records of a board data image
int RunFonts(const Args& args);    // list a font archive, render text with a font
int RunPreview(const Args& args);  // run the emulation, write GIF/PNG/raw frames
int RunBoard(const Args& args);    // talk to a board over a serial port
int RunLoader(const Args& args);   // manage a loader's blocks over a serial port
int RunPorts(const Args& args);    // list the serial ports of this computer
int RunPicture(const Args& args);  // picture file to picture tag and tag to BMP
int RunFleet(const Args& args);    // the register of boards, delivery to many, the log

}  // namespace lentar::cli
