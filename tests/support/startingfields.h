#pragma once

#include "page/metablock.h"

namespace quendle::testing {

// The editor's fields as it opens: only the four fields with starting texts are filled in.
inline MetaFields startingFields()
{
    MetaFields fields;
    fields.rating = "General";
    fields.language = "EN";
    fields.distribution = "Global";
    fields.classification = "Software";
    return fields;
}

} // namespace quendle::testing
