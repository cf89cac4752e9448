// The worker side of a multi-process comparison.
#pragma once

// Runs on every rank but 0: opens the files the manager names, compares each
// pair it is sent and returns the counts and the collected output, until the
// stop message; then meets the manager at the final barrier.
void worker_loop();

// Sends the worker's collected output (outBuff, then the overflow file) to
// rank 0 in OUTPUT_CHUNK-character TAG_OUTPUT messages, in order, and empties
// the buffer. Returns the number of chunks sent.
int send_collected_output();
