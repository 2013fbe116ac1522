// Asks the system's own service lookup which TCP port gds_db names, and
// prints it, or "none" when the name does not resolve.
#include <winsock2.h>

#include <cstdio>

int main() {
  WSADATA sockets{};
  if (WSAStartup(MAKEWORD(2, 2), &sockets) != 0) {
    std::puts("no sockets");
    return 1;
  }
  const servent* service = getservbyname("gds_db", "tcp");
  if (service == nullptr) {
    std::puts("none");
  } else {
    std::printf("%u\n", static_cast<unsigned>(
                            ntohs(static_cast<u_short>(service->s_port))));
  }
  WSACleanup();
  return 0;
}
