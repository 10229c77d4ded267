// Splitting DBServer ("host", "host:port", "[v6-address]:port") into host and
// port, shared by the drivers that talk to a server over the network.
#pragma once

#include <string>

// Fills |host| and |port| (empty when not given) from |server|. An IPv6 address
// without brackets, or anything after a colon that is not a number, is taken
// whole as the host.
inline void SplitServerAddress(const std::string &server, std::string *host, std::string *port)
{
   host->clear();
   port->clear();
   if (!server.empty() && server[0] == '[')
   {
      size_t close = server.find(']');
      if (close != std::string::npos)
      {
         *host = server.substr(1, close - 1);
         if (close + 1 < server.size() && server[close + 1] == ':')
            *port = server.substr(close + 2);
         return;
      }
   }
   size_t colon = server.find(':');
   if (colon == std::string::npos || server.find(':', colon + 1) != std::string::npos ||
       colon + 1 == server.size() || server.find_first_not_of("0123456789", colon + 1) != std::string::npos)
   {
      *host = server;
      return;
   }
   *host = server.substr(0, colon);
   *port = server.substr(colon + 1);
}
