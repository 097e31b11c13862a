#pragma once
// A TCP port on 127.0.0.1 that nothing listened on a moment ago (the kernel
// picks it), for servers the tests start and for connections meant to fail.

#include <cstdint>

uint16_t FindFreeLoopbackPort();
