// SPDX-License-Identifier: ISC
// peer - the client of standard input as a log line names it (peer.h).
#include "peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

namespace peer {
namespace {

std::string inet(const sockaddr_storage &ss)
{
	char text[INET6_ADDRSTRLEN] = "";
	if (ss.ss_family == AF_INET) {
		const auto *in = reinterpret_cast<const sockaddr_in *>(&ss);
		if (::inet_ntop(AF_INET, &in->sin_addr, text, sizeof text) == nullptr)
			return "client=local";
		return "client=" + std::string(text) + ":" + std::to_string(ntohs(in->sin_port));
	}
	const auto *in6 = reinterpret_cast<const sockaddr_in6 *>(&ss);
	std::string port = std::to_string(ntohs(in6->sin6_port));
	// An IPv4 client of a dual-stack socket (systemd's ListenStream=PORT)
	// is named as IPv4.
	if (IN6_IS_ADDR_V4MAPPED(&in6->sin6_addr)) {
		if (::inet_ntop(AF_INET, &in6->sin6_addr.s6_addr[12], text, sizeof text) == nullptr)
			return "client=local";
		return "client=" + std::string(text) + ":" + port;
	}
	if (::inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof text) == nullptr)
		return "client=local";
	return "client=[" + std::string(text) + "]:" + port;
}

} // namespace

std::string name()
{
	sockaddr_storage ss = {};
	socklen_t len = sizeof ss;
	if (::getpeername(STDIN_FILENO, reinterpret_cast<sockaddr *>(&ss), &len) == 0 &&
	    (ss.ss_family == AF_INET || ss.ss_family == AF_INET6))
		return inet(ss);
	ucred cred = {};
	socklen_t cred_len = sizeof cred;
	if (::getsockopt(STDIN_FILENO, SOL_SOCKET, SO_PEERCRED, &cred, &cred_len) == 0 &&
	    cred.pid > 0)
		return "client=local pid=" + std::to_string(cred.pid) +
		       " uid=" + std::to_string(cred.uid);
	return "client=local";
}

} // namespace peer
