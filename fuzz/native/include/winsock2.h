// Native stand-in for what the line engine and the news client take from
// Winsock: its error numbers, which they report. Nothing else of Winsock is
// reached by the code the fuzz build compiles; a new use fails to build here.
#pragma once

#define WSAEMSGSIZE 10040
#define WSAECONNABORTED 10053
#define WSAECONNRESET 10054
#define WSAENOTCONN 10057
#define WSAETIMEDOUT 10060
#define WSAECONNREFUSED 10061
