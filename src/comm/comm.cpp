// The communication layer: serial port with its receive thread, link frames,
// and the board, loader and modem protocols over them.
namespace lentar::comm {}
