#pragma once

#include <vector>

#include "ostrak/knowledge_index.hpp"

class QWidget;

namespace plovik {

// Shows, in a window of its own, every entry the knowledge index leaves out: its path in the
// knowledge folder and why. Returns at once; the window closes itself.
void showSkippedEntries(QWidget* parent, const std::vector<ostrak::SkippedEntry>& entries);

}  // namespace plovik
