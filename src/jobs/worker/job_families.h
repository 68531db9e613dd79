// The archive families Velmora unpacks, by the kind the names table gives an
// archive. The dispatch decides an archive's kind and names once and hands
// them to its family; no family looks at the name again. Any thread.
#pragma once

#include <vector>

#include "jobs/frame/archive_family.h"

// The family of kind; null for ArchiveKind::none.
const ArchiveFamily* family_of(ArchiveKind kind);
// Every family, in the table's order.
const std::vector<const ArchiveFamily*>& archive_families();
