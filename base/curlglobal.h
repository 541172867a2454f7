#pragma once

namespace quendle {

// Starts libcurl's global state (and with it the TLS library) once per process, on the first
// call from any thread: every libcurl user calls it before its first handle. Loading the TLS
// library costs memory, so it happens on the first transfer or fetch, not at start. The
// transfer component and the web target call it from their own threads, which libcurl allows
// since 7.84 (its "threadsafe" feature); the once flag keeps the count of initialisations at one.
void initialiseCurlOnce();

} // namespace quendle
