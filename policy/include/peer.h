// SPDX-License-Identifier: ISC
// peer.h - how boxpolicy names its client in a log line.
//
// name() asks the kernel who is at the other end of standard input once,
// at the moment it is called: "client=192.0.2.25:41234" or
// "client=[2001:db8::25]:41234" for TCP (an IPv4 client of a dual-stack
// socket as IPv4), "client=local pid=PID uid=UID"
// for a local socket (the process that connected), "client=local" when the
// kernel says no more (a pipe, or a socket whose peer is gone). The string
// returned is the caller's; thread-safe, prints and logs nothing.
#ifndef POLICY_PEER_H
#define POLICY_PEER_H

#include <string>

namespace peer {

std::string name();

} // namespace peer

#endif
