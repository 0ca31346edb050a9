// The sweep over every attached bridge, with the capture loop of each.
#ifndef KESTRUNE_APP_SWEEP_H
#define KESTRUNE_APP_SWEEP_H

/// Prints the two library version lines and the bridge count, fetches the
/// serial string of each bridge index, then visits those serial strings in
/// index order: connects, and reports every block read from the bridge until
/// a read fails with a status other than the read time-out; the bridge's
/// handle is then closed. Returns when every serial string has been visited,
/// or at once, silently, when the count cannot be had. A healthy bridge is
/// read until the process is interrupted.
void SweepDevices();

#endif
