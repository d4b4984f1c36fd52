// The start sequence of tavrel: the server starts only beside a ready host
// program that has told it the public host name.
#pragma once

#include "server/server_log.h"

enum class StartStep {
  Started,  // the server runs; the host has been told (-1, 1)
  Retry,    // the host isn't ready or gave no name yet: try again in a second
  End,      // no host window, or the server failed to start: end the program
};

// Retry interval of the start sequence.
constexpr int kStartRetryMs = 1000;

// One try: finds the host window (none: End); asks for readiness (code 2,
// read as a decimal number; 0: Retry) and for the two name parts (codes 130
// and 131; either missing: Retry); stores "<130>.<131>" as the public host
// name; starts the server for the owner (failure: End) and posts
// HostNotifyMessage (-1, 1).
StartStep RunStartSequence(OwnerWindow owner);
