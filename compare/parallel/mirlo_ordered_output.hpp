// The manager's printer of a multi-process comparison: prints the output of
// every pair in the order of the pairs, whatever order it arrives in.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>

// Output waiting in memory beyond this many bytes goes to a temporary file
// (in $TMPDIR, else /tmp).
constexpr size_t MIRLO_OUTPUT_MEMORY_BOUND = 64 * 1024 * 1024;

// The output of a pair is one segment, or, for a dataset pair compared in
// pieces, one segment per piece and two more (the count line and the
// attributes). Segments print in order: pair by pair in sequence order, and
// within a pair segment by segment. A segment prints once it is complete and
// everything before it has printed; text appended to the segment now being
// printed goes straight out.
//
// When the temporary file cannot be made, written or read back, one message
// on standard error names its folder and the reason; when a write to the
// output fails, nothing is said here (the owner of the output reports it).
// Either way the output stops there: nothing more is printed or kept, and
// ordered_output_failed() tells the run it cannot end as a success.
struct ordered_output {
    struct stored {
        std::string text;       // held in memory, or
        uint64_t offset = 0;    // held in the spill file at offset, size bytes
        uint64_t size = 0;
        bool in_file = false;
    };
    struct segment {
        std::vector<stored> parts;
        bool complete = false;
        bool dropped = false;   // its text is discarded, not printed
        bool generated = false; // printed by the generate callback when its turn comes
    };
    struct slot {
        std::vector<segment> segments = std::vector<segment>(1);
    };

    FILE *out = stdout;
    size_t memory_bound = MIRLO_OUTPUT_MEMORY_BOUND;
    // Prints a generated segment (seq, segment index) on out.
    std::function<void(uint64_t, size_t)> generate;

    uint64_t next_seq = 0;      // the pair now printing
    size_t next_segment = 0;    // its segment now printing
    uint64_t end_seq = 0;       // one past the last pair of the run
    std::map<uint64_t, slot> slots; // pairs with a state of their own
    size_t memory_bytes = 0;    // text held in memory
    size_t peak_memory_bytes = 0;
    FILE *spill = nullptr;
    uint64_t spill_size = 0;
    bool spill_failed = false;  // the temporary file failed (and that was said)
    bool out_failed = false;    // a write to out failed

    ordered_output() = default;
    ordered_output(const ordered_output &) = delete;
    ordered_output &operator=(const ordered_output &) = delete;
    ~ordered_output();
};

// Starts a run of count pairs, numbered 0 to count-1.
void ordered_output_begin(ordered_output *o, uint64_t count);
// Gives pair seq n segments (it has one until told otherwise), discarding
// any text it held. Only before any of its segments completes.
void ordered_output_set_segments(ordered_output *o, uint64_t seq, size_t n);
// Appends text to a segment. Returns false when the output has failed (see
// ordered_output_failed); the text is then dropped.
bool ordered_output_append(ordered_output *o, uint64_t seq, size_t segment, const char *text, size_t size);
// Marks a segment complete and prints whatever has become printable.
void ordered_output_complete(ordered_output *o, uint64_t seq, size_t segment);
// Marks a segment as printed by the generate callback, complete.
void ordered_output_complete_generated(ordered_output *o, uint64_t seq, size_t segment);
// Discards a segment's text, now and later; it still has to complete.
void ordered_output_drop(ordered_output *o, uint64_t seq, size_t segment);
// True once every pair has printed.
bool ordered_output_done(const ordered_output *o);
// True once the output has stopped on a failure: of the temporary file, or of
// a write to out.
bool ordered_output_failed(const ordered_output *o);
