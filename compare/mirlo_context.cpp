// The rule of a pair.
#include "mirlo_context.hpp"

pair_rule pair_rule_of(const mirlo_settings &s, bool attributes_excluded)
{
    pair_rule r;
    r.delta_mode = s.delta_mode;
    r.delta = s.delta;
    r.relative_mode = s.relative_mode;
    r.relative = s.relative;
    r.system_epsilon_mode = s.system_epsilon_mode;
    r.detect_nans = s.detect_nans;
    r.count_mode = s.count_mode;
    r.count_limit = s.count_limit;
    r.attributes_excluded = attributes_excluded;
    return r;
}
