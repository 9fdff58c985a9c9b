#pragma once

#include <QStringView>

#include <optional>

// Reads the flasher's progress from its output.
namespace tavix::progress {

// The first percentage in the text ("12 %", "  3.4%", "100.0%"), clamped to 0..100.
// Nothing when the text holds no percentage, or when its digits are not ASCII digits (the search
// finds any decimal digit, but only ASCII digits are read as a number).
std::optional<double> firstPercentage(QStringView text);

}  // namespace tavix::progress
