// The warning colours of the four status fields, from their text alone.
#pragma once

#include <climits>
#include <span>

#include "platform/controls.h"

namespace velmora {

class Console;

// A value up to and including `upTo` takes `colour`; bands run from low to high values.
struct ColourBand {
  int upTo;
  Color colour;
};
constexpr ColourBand kRssiBands[] = {{5, kRed}, {8, kYellow}, {INT_MAX, kGreen}};
constexpr ColourBand kSfdLossBands[] = {{3, kGreen}, {10, kYellow}, {INT_MAX, kRed}};
constexpr ColourBand kTemperatureBands[] = {
    {-31, kRed}, {-20, kYellow}, {39, kGreen}, {60, kYellow}, {INT_MAX, kRed}};
Color BandColour(std::span<const ColourBand> bands, int value);

void OpStateText_Change(Console& c);
void RssiText_Change(Console& c);
void SfdLossText_Change(Console& c);
void TemperatureText_Change(Console& c);

}  // namespace velmora
