#pragma once
// What the progress line of a backup measures the run against.

#include <string>

#include "common/progress.h"

namespace brimora {

// The files and bytes the complete backup at `referenceFolder` saved in the areas this run makes
// (the Database area only with includeDatabase); zeros when there is none, or when its record
// cannot be read or says the run was not complete.
CopyCounts ReferenceTotals(const std::string& referenceFolder, bool includeDatabase);

}  // namespace brimora
