#include "mirlo_glob.hpp"

#include "zarn_utils.hpp"

#include <cstdint>
#include <vector>

namespace {

// One step of a compiled pattern. The pattern runs as a small automaton over
// the steps, so the cost is the product of the two lengths whatever the
// pattern holds (no backtracking blow-up on "*a*a*a*b").
struct glob_step {
    enum kind_t : uint8_t { literal, any, set, star, globstar, fork } kind;
    unsigned char byte = 0;
    bool negated = false;
    std::vector<bool> members; // set: 256 entries
    size_t jump = 0;           // fork: the other way on, besides the next step
};

struct compiled {
    std::vector<glob_step> steps;
    std::string error;
};

// The byte of "xHH" at p[i], or -1 when p[i] does not start one.
int hex_byte(std::string_view p, size_t i)
{
    if (i + 2 >= p.size() || p[i] != 'x')
        return -1;
    const int hi = zarn_hex_digit(p[i + 1]), lo = zarn_hex_digit(p[i + 2]);
    return hi < 0 || lo < 0 ? -1 : hi * 16 + lo;
}

// Parses "[...]" starting at pattern[i] == '['; returns the index after ']'
// or 0 when the set is not terminated.
size_t parse_set(std::string_view p, size_t i, glob_step *step)
{
    step->kind = glob_step::set;
    step->members.assign(256, false);
    ++i;
    if (i < p.size() && (p[i] == '!' || p[i] == '^')) {
        step->negated = true;
        ++i;
    }
    bool first = true;
    while (i < p.size() && (p[i] != ']' || first)) {
        first = false;
        unsigned char lo = static_cast<unsigned char>(p[i]);
        if (lo == '\\') {
            if (++i >= p.size())
                return 0;
            lo = static_cast<unsigned char>(p[i]);
        }
        ++i;
        unsigned char hi = lo;
        if (i + 1 < p.size() && p[i] == '-' && p[i + 1] != ']') {
            hi = static_cast<unsigned char>(p[i + 1]);
            if (hi == '\\') {
                if (i + 2 >= p.size())
                    return 0;
                hi = static_cast<unsigned char>(p[i + 2]);
                ++i;
            }
            i += 2;
        }
        for (unsigned c = lo; c <= hi; ++c)
            step->members[c] = true;
    }
    if (i >= p.size())
        return 0;
    return i + 1;
}

compiled compile(std::string_view p, glob_mode mode)
{
    compiled out;
    auto &steps = out.steps;
    size_t i = 0;
    while (i < p.size()) {
        const char c = p[i];
        glob_step step{};
        if (c == '*') {
            size_t stars = 0;
            while (i < p.size() && p[i] == '*') {
                ++stars;
                ++i;
            }
            if (stars == 1 || mode == glob_mode::name) {
                step.kind = glob_step::star;
                steps.push_back(step);
                continue;
            }
            // "**" after a '/' (or at the start) and before a '/' or the end
            // spans whole levels, the slash next to it included.
            const bool after_slash = !steps.empty() && steps.back().kind == glob_step::literal &&
                                     steps.back().byte == '/';
            const bool at_end = i == p.size();
            const bool before_slash = i < p.size() && p[i] == '/';
            if (after_slash && at_end) {
                // "X/**": X alone, or X followed by '/' and anything.
                glob_step slash = steps.back();
                steps.pop_back();
                glob_step f{};
                f.kind = glob_step::fork;
                f.jump = steps.size() + 3; // past the slash and the globstar
                steps.push_back(f);
                steps.push_back(slash);
                step.kind = glob_step::globstar;
                steps.push_back(step);
                continue;
            }
            if (after_slash && before_slash) {
                // "/**/": a single '/', or '/' anything '/'.
                ++i; // the second slash is the step after the globstar
                glob_step f{};
                f.kind = glob_step::fork;
                f.jump = steps.size() + 3; // past the globstar and its slash
                steps.push_back(f);
                step.kind = glob_step::globstar;
                steps.push_back(step);
                glob_step slash{};
                slash.kind = glob_step::literal;
                slash.byte = '/';
                steps.push_back(slash);
                continue;
            }
            step.kind = glob_step::globstar;
            steps.push_back(step);
            continue;
        }
        if (c == '?') {
            step.kind = glob_step::any;
            ++i;
        } else if (c == '[') {
            const size_t next = parse_set(p, i, &step);
            if (next == 0) {
                out.error = "unterminated bracket expression";
                step = glob_step{};
                step.kind = glob_step::literal;
                step.byte = '[';
                ++i;
            } else {
                i = next;
            }
        } else if (c == '\\') {
            if (i + 1 >= p.size()) {
                out.error = "pattern ends in a backslash";
                step.kind = glob_step::literal;
                step.byte = '\\';
                ++i;
            } else if (const int b = hex_byte(p, i + 1); b >= 0) {
                step.kind = glob_step::literal;
                step.byte = static_cast<unsigned char>(b);
                i += 4;
            } else {
                step.kind = glob_step::literal;
                step.byte = static_cast<unsigned char>(p[i + 1]);
                i += 2;
            }
        } else {
            step.kind = glob_step::literal;
            step.byte = static_cast<unsigned char>(c);
            ++i;
        }
        steps.push_back(std::move(step));
    }
    return out;
}

// Adds state s and every state reachable from it without reading a byte.
void close_over(const std::vector<glob_step> &steps, size_t s, std::vector<char> *on)
{
    std::vector<size_t> todo{s};
    while (!todo.empty()) {
        const size_t t = todo.back();
        todo.pop_back();
        if ((*on)[t])
            continue;
        (*on)[t] = 1;
        if (t == steps.size())
            continue;
        const auto &st = steps[t];
        if (st.kind == glob_step::star || st.kind == glob_step::globstar)
            todo.push_back(t + 1);
        else if (st.kind == glob_step::fork) {
            todo.push_back(t + 1);
            todo.push_back(st.jump);
        }
    }
}

} // namespace

bool glob_match(std::string_view pattern, std::string_view text, glob_mode mode)
{
    const compiled c = compile(pattern, mode);
    const auto &steps = c.steps;
    const size_t n = steps.size();
    const bool slash_is_special = mode == glob_mode::path;
    std::vector<char> now(n + 1, 0), next(n + 1, 0);
    close_over(steps, 0, &now);
    for (const char ch : text) {
        const auto b = static_cast<unsigned char>(ch);
        std::fill(next.begin(), next.end(), 0);
        bool alive = false;
        for (size_t s = 0; s < n; ++s) {
            if (!now[s])
                continue;
            const auto &st = steps[s];
            const bool slash = slash_is_special && b == '/';
            switch (st.kind) {
            case glob_step::literal:
                if (b == st.byte)
                    close_over(steps, s + 1, &next), alive = true;
                break;
            case glob_step::any:
                if (!slash)
                    close_over(steps, s + 1, &next), alive = true;
                break;
            case glob_step::set:
                if (!slash && st.members[b] != st.negated)
                    close_over(steps, s + 1, &next), alive = true;
                break;
            case glob_step::star:
                if (!slash)
                    close_over(steps, s, &next), alive = true;
                break;
            case glob_step::globstar:
                close_over(steps, s, &next), alive = true;
                break;
            case glob_step::fork:
                break;
            }
        }
        if (!alive)
            return false;
        now.swap(next);
    }
    return now[n] != 0;
}

std::string glob_check(std::string_view pattern)
{
    return compile(pattern, glob_mode::path).error;
}
