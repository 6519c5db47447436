#pragma once
// Rounding as the instrument and the program's layouts do it: to the nearest integer, halves
// to the even neighbour. The Y scale, the ruler, the chart, the recording schedule, the
// twips of the windows and the number of an operator's entry all round this way.

namespace hx {

// Nearest integer, halves to the even neighbour (2.5 -> 2, 3.5 -> 4, -7.5 -> -8).
double roundHalfEven(double v);

} // namespace hx
