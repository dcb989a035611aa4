#pragma once

#include <QHttpServer>

namespace Cloud::WebPage {

// The planner's page, compiled into the server as resources under :/web: "/" is its index.html and every other
// file is served at its own name, gzip-compressed (NAME.gz beside it, made at build time) to a client that accepts
// it. Each answer keeps the page to this origin (a strict Content-Security-Policy, no
// sniffing, no framing) and is revalidated by its ETag, so that a new server's page replaces the old at once.
// Nothing is added when the server was built without the page.
void addRoutes(QHttpServer &http);

} // namespace Cloud::WebPage
