// Prints pairs' outputs in pair order, holding back what arrives early.
#include "mirlo_ordered_output.hpp"
#include "zarn.hpp"

#include <algorithm>

namespace {

void warn_lost()
{
    fprintf(rawerrorstream ? rawerrorstream : stderr,
            "warning: could not create overflow file.  Output may be truncated.\n");
}

// Writes a segment's stored text to the output and forgets it.
void print_parts(ordered_output *o, ordered_output::segment &g)
{
    char block[1 << 16];
    for (ordered_output::stored &p : g.parts) {
        if (!p.in_file) {
            fwrite(p.text.data(), 1, p.text.size(), o->out);
            o->memory_bytes -= p.text.size();
            continue;
        }
        if (fseeko(o->spill, static_cast<off_t>(p.offset), SEEK_SET) != 0) {
            warn_lost();
            continue;
        }
        uint64_t left = p.size;
        while (left > 0) {
            size_t n = fread(block, 1, static_cast<size_t>(std::min<uint64_t>(left, sizeof block)), o->spill);
            if (n == 0)
                break;
            fwrite(block, 1, n, o->out);
            left -= n;
        }
    }
    g.parts.clear();
}

// Prints every segment that has become printable.
void advance(ordered_output *o)
{
    bool printed = false;
    while (o->next_seq < o->end_seq) {
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
    if (printed)
        fflush(o->out);
}

ordered_output::segment &segment_of(ordered_output *o, uint64_t seq, size_t segment)
{
    ordered_output::slot &s = o->slots[seq];
    if (segment >= s.segments.size())
        s.segments.resize(segment + 1);
    return s.segments[segment];
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
    o->slots[seq].segments.resize(n);
}

bool ordered_output_append(ordered_output *o, uint64_t seq, size_t segment, const char *text, size_t size)
{
    if (size == 0)
        return true;
    ordered_output::segment &g = segment_of(o, seq, segment);
    if (g.dropped)
        return true;
    if (seq == o->next_seq && segment == o->next_segment) {
        // Its turn: everything before it has printed.
        print_parts(o, g);
        fwrite(text, 1, size, o->out);
        return true;
    }
    if (o->memory_bytes + size <= o->memory_bound) {
        if (g.parts.empty() || g.parts.back().in_file)
            g.parts.emplace_back();
        g.parts.back().text.append(text, size);
        o->memory_bytes += size;
        o->peak_memory_bytes = std::max(o->peak_memory_bytes, o->memory_bytes);
        return true;
    }
    if (o->spill == nullptr) {
        o->spill = tmpfile();
        if (o->spill == nullptr) {
            warn_lost();
            return false;
        }
    }
    if (fseeko(o->spill, static_cast<off_t>(o->spill_size), SEEK_SET) != 0 ||
        fwrite(text, 1, size, o->spill) != size) {
        warn_lost();
        return false;
    }
    if (!g.parts.empty() && g.parts.back().in_file &&
        g.parts.back().offset + g.parts.back().size == o->spill_size) {
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

void ordered_output_complete(ordered_output *o, uint64_t seq, size_t segment)
{
    segment_of(o, seq, segment).complete = true;
    advance(o);
    fflush(o->out);
}

void ordered_output_complete_generated(ordered_output *o, uint64_t seq, size_t segment)
{
    ordered_output::segment &g = segment_of(o, seq, segment);
    g.generated = true;
    g.complete = true;
    advance(o);
}

void ordered_output_drop(ordered_output *o, uint64_t seq, size_t segment)
{
    ordered_output::segment &g = segment_of(o, seq, segment);
    for (const ordered_output::stored &p : g.parts)
        if (!p.in_file)
            o->memory_bytes -= p.text.size();
    g.parts.clear();
    g.dropped = true;
}

bool ordered_output_done(const ordered_output *o)
{
    return o->next_seq >= o->end_seq;
}
