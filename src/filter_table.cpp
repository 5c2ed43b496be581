#include "filter_table.h"

#include "filters/filter.h"

const filter_entry k_filters[] = {
#define IMGFILTER_FILTER_ENTRY(name, kind) \
    {filter_id::name, #name, param_kind::kind, thunk_##name, thunk_##name##_with},
    IMGFILTER_FILTERS(IMGFILTER_FILTER_ENTRY)
#undef IMGFILTER_FILTER_ENTRY
};

static_assert(sizeof k_filters / sizeof k_filters[0] == k_filter_count, "one entry per filter");
