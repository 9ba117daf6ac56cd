#pragma once

#include <QString>

// The portal and its streaming server, as the program talks to them: the
// build's defaults unless the user chose others when starting the program.
namespace external {

// Scheme and host of each, never with a slash at their end.
QString portalUrl();
QString streamUrl();

// The name of the environment variable that chooses the portal, read when
// the command line chooses none.
inline constexpr char PortalVariable[] = "LUMORA_PORTAL";

// "PORTAL[,STREAM]": an http or https address and, after a comma, an rtmp
// one. Without the stream address the stream server is taken to be on the
// portal's host at RTMP's own port. On success the choice holds from then on
// and the result is empty; otherwise it says in Finnish what is wrong, and
// nothing changes. An empty choice is the build's default.
QString choosePortal(const QString &choice);

// The choice given on the command line, or else the one in the environment.
QString choosePortalFrom(const QString &commandLine);

} // namespace external
