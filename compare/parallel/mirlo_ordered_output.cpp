// Prints pairs' outputs in pair order, holding back what arrives early.
#include "mirlo_ordered_output.hpp"
#include "zarn.hpp"
#include "zarn_io.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {

// Forgets every text held: nothing will be printed any more.
void release_held(ordered_output *o)
{
    o->slots.clear();
    o->memory_bytes = 0;
}

// The temporary file failed: says so once, with its folder and the reason.
void spill_failed(ordered_output *o, const char *doing, int error)
{
    if (!o->spill_failed)
        zarn_error_msg("cannot %s the output waiting to be printed in a temporary file in %s: %s\n", doing,
                       zarn_temp_dir().c_str(), std::strerror(error != 0 ? error : EIO));
    o->spill_failed = true;
    release_held(o);
}

bool failed(const ordered_output *o)
{
    return o->spill_failed || o->out_failed;
}

void write_out(ordered_output *o, const char *text, size_t size)
{
    if (o->out_failed || size == 0)
        return;
    if (fwrite(text, 1, size, o->out) != size) {
        o->out_failed = true;
        release_held(o);
    }
}

// Writes a segment's stored text to the output and forgets it.
void print_parts(ordered_output *o, ordered_output::segment &g)
{
    char block[1 << 16];
    for (ordered_output::stored &p : g.parts) {
        if (failed(o))
            return;
        if (!p.in_file) {
            write_out(o, p.text.data(), p.text.size());
            o->memory_bytes -= p.text.size();
            continue;
        }
        if (fseeko(o->spill, static_cast<off_t>(p.offset), SEEK_SET) != 0) {
            spill_failed(o, "read back", errno);
            return;
        }
        uint64_t left = p.size;
        while (left > 0) {
            const size_t want = static_cast<size_t>(std::min<uint64_t>(left, sizeof block));
            const size_t n = fread(block, 1, want, o->spill);
            if (n != want) {
                // A short read of a file this run wrote is an error, never its end.
                spill_failed(o, "read back", ferror(o->spill) ? errno : EIO);
                return;
            }
            write_out(o, block, n);
            left -= n;
        }
    }
    g.parts.clear();
}

// Prints every segment that has become printable.
void advance(ordered_output *o)
{
    bool printed = false;
    while (o->next_seq < o->end_seq && !failed(o)) {
        auto it = o->slots.find(o->next_seq);
        if (it == o->slots.end())
            break;
        ordered_output::slot &s = it->second;
        bool blocked = false;
        while (o->next_segment < s.segments.size()) {
            ordered_output::segment &g = s.segments[o->next_segment];
            if (!g.parts.empty()) {
                print_parts(o, g);
                printed = true;
                if (failed(o))
                    return;
            }
            if (!g.complete) {
                blocked = true;
                break;
            }
            if (g.generated && !g.dropped && o->generate) {
                o->generate(o->next_seq, o->next_segment);
                printed = true;
            }
            ++o->next_segment;
        }
        if (blocked)
            break;
        o->slots.erase(it);
        ++o->next_seq;
        o->next_segment = 0;
    }
    if (printed && !o->out_failed && fflush(o->out) != 0)
        o->out_failed = true;
}

ordered_output::segment &segment_of(ordered_output *o, uint64_t seq, size_t segment)
{
    ordered_output::slot &s = o->slots[seq];
    if (segment >= s.segments.size())
        s.segments.resize(segment + 1);
    return s.segments[segment];
}

void forget_parts(ordered_output *o, ordered_output::segment &g)
{
    for (const ordered_output::stored &p : g.parts)
        if (!p.in_file)
            o->memory_bytes -= p.text.size();
    g.parts.clear();
}

// Keeps text in the temporary file; false when it failed.
bool keep_in_file(ordered_output *o, ordered_output::segment &g, const char *text, size_t size)
{
    if (o->spill == nullptr) {
        o->spill = zarn_temp_file();
        if (o->spill == nullptr) {
            spill_failed(o, "create", errno);
            return false;
        }
    }
    // Flushed at once, so that a full disk is seen here and not later.
    if (fseeko(o->spill, static_cast<off_t>(o->spill_size), SEEK_SET) != 0 ||
        fwrite(text, 1, size, o->spill) != size || fflush(o->spill) != 0) {
        spill_failed(o, "write", errno);
        return false;
    }
    if (!g.parts.empty() && g.parts.back().in_file && g.parts.back().offset + g.parts.back().size == o->spill_size) {
        g.parts.back().size += size;
    } else {
        ordered_output::stored p;
        p.in_file = true;
        p.offset = o->spill_size;
        p.size = size;
        g.parts.push_back(std::move(p));
    }
    o->spill_size += size;
    return true;
}

} // namespace

ordered_output::~ordered_output()
{
    if (spill != nullptr)
        fclose(spill);
}

void ordered_output_begin(ordered_output *o, uint64_t count)
{
    o->next_seq = 0;
    o->next_segment = 0;
    o->end_seq = count;
    o->slots.clear();
    o->memory_bytes = 0;
}

void ordered_output_set_segments(ordered_output *o, uint64_t seq, size_t n)
{
    ordered_output::slot &s = o->slots[seq];
    for (ordered_output::segment &g : s.segments)
        forget_parts(o, g);
    s.segments.assign(n, ordered_output::segment());
}

bool ordered_output_append(ordered_output *o, uint64_t seq, size_t segment, const char *text, size_t size)
{
    if (failed(o))
        return false;
    if (size == 0)
        return true;
    ordered_output::segment &g = segment_of(o, seq, segment);
    if (g.dropped)
        return true;
    if (seq == o->next_seq && segment == o->next_segment) {
        // Its turn: everything before it has printed.
        print_parts(o, g);
        write_out(o, text, size);
        return !failed(o);
    }
    if (o->memory_bytes + size <= o->memory_bound) {
        if (g.parts.empty() || g.parts.back().in_file)
            g.parts.emplace_back();
        g.parts.back().text.append(text, size);
        o->memory_bytes += size;
        o->peak_memory_bytes = std::max(o->peak_memory_bytes, o->memory_bytes);
        return true;
    }
    return keep_in_file(o, g, text, size);
}

void ordered_output_complete(ordered_output *o, uint64_t seq, size_t segment)
{
    if (failed(o))
        return;
    segment_of(o, seq, segment).complete = true;
    advance(o);
    if (!o->out_failed && fflush(o->out) != 0)
        o->out_failed = true;
}

void ordered_output_complete_generated(ordered_output *o, uint64_t seq, size_t segment)
{
    if (failed(o))
        return;
    ordered_output::segment &g = segment_of(o, seq, segment);
    g.generated = true;
    g.complete = true;
    advance(o);
}

void ordered_output_drop(ordered_output *o, uint64_t seq, size_t segment)
{
    if (failed(o))
        return;
    ordered_output::segment &g = segment_of(o, seq, segment);
    forget_parts(o, g);
    g.dropped = true;
}

bool ordered_output_done(const ordered_output *o)
{
    return o->next_seq >= o->end_seq;
}

bool ordered_output_failed(const ordered_output *o)
{
    return failed(o);
}
