#pragma once

// The transfer module's one entry point, shared by the module and the code that loads it.

namespace quendle {

class TransferClient;

// Makes a new transfer component on libcurl with the default bounds; the caller owns it.
using CreateTransferClient = TransferClient* (*)();

// The entry point's name. Its number changes with the TransferClient interface, so that a
// module of another build is refused when it is loaded instead of being called wrongly.
inline constexpr char kCreateTransferClient[] = "quendle_create_transfer_client_2";

// Where the window finds the module, relative to the program's own folder: /usr/bin/quendle
// loads /usr/lib/quendle/quendle-ftp.so, and the build folder has the same layout.
inline constexpr char kTransferModuleFromProgram[] = "../lib/quendle/quendle-ftp.so";

} // namespace quendle
