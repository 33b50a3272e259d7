// The HTTP side, on libmicrohttpd: GET (or HEAD) of /metrics and / only, no request body read.
#ifndef QARVEL_EXPORTER_HTTP_H
#define QARVEL_EXPORTER_HTTP_H

#include <cstdio>
#include <string>

#include "exporter/collection.h"

namespace exporter {

// Serves `collection` on ADDR:PORT ("127.0.0.1:9842", "[::1]:9842"; port 0 takes a free one)
// until SIGINT or SIGTERM; SIGHUP calls the library's release, so that the next scrape
// discovers the BMC's sensors again. Prints "listening on ADDR:PORT" on `announce` once it
// accepts. Returns the exit status.
int Serve(Collection& collection, const Library& library, const std::string& listen, std::FILE* announce);

}  // namespace exporter

#endif
