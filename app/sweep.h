// The sweep over every attached bridge, with the capture loop of each.
#ifndef KESTRUNE_APP_SWEEP_H
#define KESTRUNE_APP_SWEEP_H

/// Prints the two library version lines and the bridge count, then visits
/// each bridge index once: fetches its serial string, connects, and reports
/// every block read from it until a read fails with a status other than the
/// read time-out; the bridge's handle is then closed. Returns when every
/// index has been visited, or at once, silently, when the count cannot be
/// had. A healthy bridge is read until the process is interrupted.
void SweepDevices();

#endif
