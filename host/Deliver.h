// `quillcast deliver`: runs a stand-in client's delivery (apps/mailstore/MailDelivery.h) from
// the host, on the client's data folder under $QUILLCAST_HOME/Data, whether or not the client
// is running (the two never deliver the same folder at once), and prints what happened.
#pragma once

#include <cstdio>

namespace host {

// The arguments after "deliver". Returns the exit status: 0 when every queued message was
// delivered, 1 when one was refused, left queued or left unconfirmed, 2 for a usage error.
int DeliverCommand(int argc, char **argv);

void DeliverUsage(std::FILE *out);

}  // namespace host
