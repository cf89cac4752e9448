// Where the report of a comparison goes: the output sink handed down to
// every stage. A one-process run writes to standard output as it goes; a
// worker collects the text of the task it runs (the pair's segment) in
// memory and hands it on when it grows large and when the task ends.
#pragma once
#include "zarn.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

struct output_sink {
    FILE *file = nullptr;  // written to at once; when null, the text collects in segment
    std::string segment;   // the text collected so far
    // Called once the segment holds full_at bytes or more, to take them away
    // (see output_take).
    void (*on_full)(output_sink *sink, void *data) = nullptr;
    void *data = nullptr;
    size_t full_at = SIZE_MAX;

    output_sink() = default;
    explicit output_sink(FILE *f) : file(f) {}
    output_sink(const output_sink &) = delete;
    output_sink &operator=(const output_sink &) = delete;
};

// printf to the sink.
void output_print(output_sink *out, const char *fmt, ...) ZARN_FORMAT(2, 3);
// Raw text to the sink.
void output_write(output_sink *out, const char *text, size_t size);
// Discards the text collected so far (a sink that writes to a file has none).
void output_drop(output_sink *out);
// Takes the collected text away, leaving the segment empty: the one way a
// segment is drained.
std::string output_take(output_sink *out);
