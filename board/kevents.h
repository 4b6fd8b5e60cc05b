// Kernel device events (hot-plug): one datagram per event, "action@device-path" first, then
// NUL-separated KEY=value lines. On the board: the kernel's netlink event socket. On the
// simulated board: one end of a datagram socket pair whose other end receives the events that
// the simulated-board control sends.
#pragma once

#include <cstdint>
#include <string>

// Opens an event socket listening to the multicast groups of groupMask; the caller receives
// with recv/recvmsg and closes it with closeKernelEventSocket. -1 with errno on failure. The board's or the simulated
// implementation, by kSimulatedBoard.
int openKernelEventSocket(uint32_t groupMask);
// Closes a socket of openKernelEventSocket; on the simulated board its listener is gone at once
// (not only at the next delivery).
void closeKernelEventSocket(int fd);

// The two implementations, both in every build.
// A raw netlink kernel-object event socket bound with port identity 0 (the kernel assigns it).
int openBoardKernelEventSocket(uint32_t groupMask);
// A new listener of the simulated events (the group mask plays no part).
int openSimulatedKernelEventSocket();

// Simulated board: sends one event, as one datagram, to every open simulated listener without
// waiting; a listener whose queue is full misses it, as a netlink listener would. Listeners
// closed by their reader are forgotten. Returns the number of listeners that took it.
int deliverSimulatedKernelEvent(const std::string& event);
// The number of simulated listeners (a closed one counts until the next delivery); tests wait
// for a watcher to be listening.
int simulatedKernelEventListeners();
